#pragma once

#include <QString>

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
    };

    Status status = Status::Done;
    QString message;

    bool ok() const { return status == Status::Done; }
    // A failure that ends a job: neither success nor a kept or blocked item.
    bool isFailure() const { return status != Status::Done && status != Status::Kept && status != Status::Blocked; }
};
