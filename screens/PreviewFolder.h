#pragma once

#include <QString>

// The program's private folder for entries opened from the preview:
// "<base>/<identifier>-preview/<pid>-XXXXXX", where the base is
// $XDG_RUNTIME_DIR when it is the user's own, else the user's cache folder.
// Every folder on the way is the user's own, mode 0700 and no link, or
// nothing is made. Made on first use, removed when the program quits; what
// programs no longer running left there is removed on first use too. Main
// thread only.
namespace PreviewFolder {

// The folder of this program; empty when it cannot be made safely.
QString path();
// A new empty folder inside it, for one entry; empty on failure.
QString makeEntryFolder();
// Removes the folder of this program with everything in it. Nothing when
// none was made.
void remove();
// Puts the base elsewhere (tests); empty restores the default.
void setBaseForTesting(const QString& base);

} // namespace PreviewFolder
