#pragma once

#include "engine/zipwrite/ZipEntryList.h"
#include "platform/Outcome.h"

#include <QString>
#include <vector>

// Where a compression job gathers the chosen items: a staging folder named
// after the archive, holding one symbolic link per item, inside a folder of
// the job's own ("job-XXXXXX") in the user's private temporary folder
// (PrivateFolder), so that nobody else can plant or swap what gets packed.
// A job holds a lock on its folder while it lives, so each new
// job removes what jobs that have ended left behind (after a failure or a
// crash), and never the folder of a running job, in this process or
// another. One job per object, on one thread; failures come back as
// outcomes whose messages are for the log.
class StagingArea final {
public:
    // Claims a job folder and makes the staging folder in it. Before that,
    // removes the leftovers of ended jobs; what cannot be removed is logged.
    explicit StagingArea(const QString& archivePath);
    // Releases the claim; the folder stays unless remove() was called.
    ~StagingArea();
    StagingArea(const StagingArea&) = delete;
    StagingArea& operator=(const StagingArea&) = delete;

    bool isValid() const { return m_jobFd >= 0; }
    // Why the folders could not be made.
    const Outcome& openFailure() const { return m_openFailure; }
    QString path() const { return m_path; }

    // Places a link to `item` (made absolute) named by the item's last path
    // component. Failed when the item cannot be found, NameTaken when an
    // earlier item took the name.
    Outcome linkItem(const QString& item);
    // The items placed so far, in order, by the names they got and the
    // paths they stand for. The links themselves are never read back.
    const std::vector<ZipItem>& items() const { return m_items; }
    // Removes the job folder with everything in it.
    Outcome remove();

    // Removes the item at `path` with everything in it; links are removed,
    // never followed.
    static Outcome removeItem(const QString& path);

private:
    // The staging folder's name for an archive: its file name without the
    // extension ("Archive.zip" -> "Archive"), never empty, "." or "..".
    static QString folderName(const QString& archivePath);
    // Claims the job folder and makes the staging folder.
    Outcome claim(const QString& archivePath);
    void removeEndedJobs(int rootFd);

    QString m_jobFolder;
    QString m_path;
    int m_jobFd = -1; // open on the job folder, holding its lock
    Outcome m_openFailure;
    std::vector<ZipItem> m_items;
};
