#pragma once

#include "platform/Outcome.h"

#include <QString>

// This user's own folder in the temporary directory, "<temp>/zavrin-<uid>".
// The temporary directory is shared by every user, so the folder is checked
// to be a real folder of ours that nobody else may enter; otherwise another
// user could plant or swap what we keep there. Any thread.
class PrivateFolder final {
public:
    // Makes the folder with mode 0700 when missing, and closes it to others
    // when it is ours but open. Done with `path` set; Failed (and `path`
    // left alone) when it cannot be made, or is a link, not a folder, or
    // another user's.
    static Outcome temporaryRoot(QString* path);
};
