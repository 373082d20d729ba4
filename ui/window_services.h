#pragma once
// What the windows need from the outside world: the modal message box and
// open dialog, and the web browser. The program hands in the Qt
// implementations; tests hand in scripted fakes. (The busy pointer is each
// window's own.)

#include "widgets/services.h"

namespace penumbrix {

struct WindowServices {
    MessageService& messages;
    OpenDialog& openDialog;
    Browser& browser;
};

} // namespace penumbrix
