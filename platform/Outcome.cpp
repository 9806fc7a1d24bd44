#include "platform/Outcome.h"

#include <array>
#include <utility>

namespace {

using Status = Outcome::Status;

constexpr std::array<std::pair<Status, const char16_t*>, 19> kNames { {
    { Status::Done, u"Done" },
    { Status::Kept, u"Kept" },
    { Status::Blocked, u"Blocked" },
    { Status::Failed, u"Failed" },
    { Status::WrongPassword, u"WrongPassword" },
    { Status::WrongPasswordOrDamage, u"WrongPasswordOrDamage" },
    { Status::Cancelled, u"Cancelled" },
    { Status::NoSpace, u"NoSpace" },
    { Status::NothingToPack, u"NothingToPack" },
    { Status::NameTaken, u"NameTaken" },
    { Status::Usage, u"Usage" },
    { Status::NotAnArchive, u"NotAnArchive" },
    { Status::Damaged, u"Damaged" },
    { Status::Unsafe, u"Unsafe" },
    { Status::NoPermission, u"NoPermission" },
    { Status::MissingPart, u"MissingPart" },
    { Status::Changed, u"Changed" },
    { Status::PasswordUnconfirmed, u"PasswordUnconfirmed" },
    { Status::Unsupported, u"Unsupported" },
} };

} // namespace

QString Outcome::statusName(Status status)
{
    for (const auto& [value, name] : kNames) {
        if (value == status)
            return QString::fromUtf16(name);
    }
    return QStringLiteral("Failed");
}

std::optional<Outcome::Status> Outcome::statusFromName(const QString& name)
{
    for (const auto& [value, text] : kNames) {
        if (name == QStringView(text))
            return value;
    }
    return std::nullopt;
}
