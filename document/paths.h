#pragma once
// Where the program's two fixed files live.
//
// The install folder is share/penumbrix beside the folder holding the
// executable (<prefix>/bin/penumbrix finds <prefix>/share/penumbrix), and
// holds the placeholder picture, which is only ever read. The work file of
// the apply pass lives in the user's own data folder for the program,
// ~/.local/share/penumbrix by default ($XDG_DATA_HOME/penumbrix), made
// private (0700) when first needed and trusted only as openDataFolder says;
// workFile() is the name of a single running copy's work file (see WorkFile
// for the others). Saves keep their journals there too.

#include <QString>

namespace penumbrix {

inline const char* const kPlaceholderFileName = "NoImage.bmp";
inline const char* const kWorkFileName = "Image1.BMP";

struct ProgramPaths {
    QString installFolder;
    QString dataFolder;

    // Absolute paths, spelled the same way every time.
    QString placeholder() const;
    QString workFile() const; // the first running copy's

    // The folders of the running program: the data folder from the raw
    // bytes of XDG_DATA_HOME or HOME, by the XDG base directory rules. Also
    // points Qt's own settings at the config folder those bytes name.
    static ProgramPaths forThisProgram();
};

} // namespace penumbrix
