#pragma once

#include <QString>
#include <optional>

// How an operation ended: a status and, unless it simply succeeded, a
// message for the log or the terminal (never shown as a toast: toasts are
// the product's own texts). Built with designated initializers:
//
//     return Outcome{.status = Outcome::Status::NoSpace, .message = path + u": disk full"};
//
// Used by the engine's readers, writer and staging, the safe destination
// and the command line, so that a caller tells a full disk from nothing to
// pack, or a wrong password from damage, by the status alone.
struct Outcome final {
    enum class Status {
        Done, // succeeded
        Kept, // something already stood there; it was kept and nothing was done
        Blocked, // refused by the path-safety rules; nothing was done
        Failed, // anything else that went wrong
        WrongPassword, // the password does not open the archive
        // No encrypted entry decoded right, though the password passed the
        // archive's quick check: a wrong password or damaged data.
        WrongPasswordOrDamage,
        Cancelled, // stopped on request before the end
        NoSpace, // the disk (or the quota) is full
        NothingToPack, // no entry at all to write
        NameTaken, // an earlier item already has this name
        Usage, // the command line asks for something that cannot be done
        NotAnArchive, // the file is not an archive of its format, or not one at all
        Damaged, // the archive is damaged: cut short, or an entry failed its check
        Unsafe, // refused: a name or link would lead outside the destination
        NoPermission, // the system refused to read a source or to write the destination
        MissingPart, // a volume of a split archive is missing
        Changed, // an item changed while it was read
        PasswordUnconfirmed, // no entry could prove the password right
        Unsupported, // a method or feature the reader does not offer
    };

    Status status = Status::Done;
    QString message;

    bool ok() const { return status == Status::Done; }
    // The status as a word ("NoSpace"), for notifications and the log.
    static QString statusName(Status status);
    static std::optional<Status> statusFromName(const QString& name);
    // A failure that ends a job: neither success nor a kept or blocked item.
    bool isFailure() const { return status != Status::Done && status != Status::Kept && status != Status::Blocked; }
};
