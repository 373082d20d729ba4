#pragma once
// The maker's home page, opened from the help menu and from the picture in
// the about window.

#include <QString>

#include "widgets/services.h"

namespace penumbrix {

// Under the reserved .example domain until the maker's own page is known, so
// that the link never leads to a stranger's site.
inline const char* const kHomePage = "https://penumbrix.example/";

// Hands the address to a new browser window and returns at once; a browser
// that can't be started is a run-time error.
inline void openHomePage(Browser& browser) { browser.open(QString::fromLatin1(kHomePage)); }

} // namespace penumbrix
