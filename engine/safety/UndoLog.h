#pragma once

#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

class OpenFolders;

// What a job made, entry by entry and in order, so that a job that must
// leave nothing (a wrong password) can take it all back. Grows with every
// entry, so a job that cannot end that way records nothing, and one whose
// password is confirmed lets the records go. Used under the OpenFolders lock.
class UndoLog final {
public:
    explicit UndoLog(bool recording)
        : m_recording(recording)
    {
    }

    void noteMade(const QStringList& path, bool folder);
    // Stops recording and lets the records go: nothing will be taken back.
    void forget();
    // Removes, newest first, everything recorded; a folder that holds
    // something else by now stays.
    void rollBack(OpenFolders& folders);

private:
    bool m_recording;
    std::vector<std::pair<QString, bool>> m_made; // joined path, is a folder
};
