#pragma once
// What the windows need from the outside world: the modal message box and
// open dialog, the busy pointer and the web browser. The program hands in the
// Qt implementations; tests hand in scripted fakes.

#include "platform/services.h"

namespace penumbrix {

struct WindowServices {
    MessageService& messages;
    OpenDialog& openDialog;
    BusyPointer& busy;
    Browser& browser;
};

} // namespace penumbrix
