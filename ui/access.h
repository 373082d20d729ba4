#pragma once
// What a screen reader makes of the main window: every control named so that
// a listener knows what it is (the sliders by what they set, the views and
// surfaces by their captions), each value box tied to its slider, and the
// value a slider speaks the number its value box shows.

class QWidget;

namespace penumbrix {

// Installs, once, the accessibility of the setting sliders (a slider whose
// value box is a label with the slider as its buddy speaks that box's
// number, and takes a number in the same terms) and of the image views and
// drawing surfaces (pictures, not fillers).
void installAccessibility();

// Names the main window's controls for a listener and ties each value box to
// its slider. Nothing a sighted user sees changes.
void describeMainWindow(QWidget& form);

} // namespace penumbrix
