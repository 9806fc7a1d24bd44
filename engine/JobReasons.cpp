#include "engine/JobReasons.h"

#include "platform/Bundle.h"

namespace JobReasons {

QString key(Outcome::Status status)
{
    // The keys are the Chinese texts of the string tables; every status has
    // one, so that a new status fails the table's test rather than showing
    // nothing.
    using Status = Outcome::Status;
    switch (status) {
    case Status::Done:
        return {};
    case Status::Kept:
        return QStringLiteral("已存在，已保留");
    case Status::Blocked:
        return QStringLiteral("路径不安全，已跳过");
    case Status::Failed:
        return QStringLiteral("发生未知错误");
    case Status::WrongPassword:
        return QStringLiteral("密码不正确");
    case Status::WrongPasswordOrDamage:
        return QStringLiteral("密码不正确，或文件已损坏");
    case Status::Cancelled:
        return QStringLiteral("已取消");
    case Status::NoSpace:
        return QStringLiteral("磁盘空间不足");
    case Status::NothingToPack:
        return QStringLiteral("没有可压缩的内容");
    case Status::NameTaken:
        return QStringLiteral("有两个项目同名");
    case Status::Usage:
        return QStringLiteral("参数无效");
    case Status::NotAnArchive:
        return QStringLiteral("不是有效的压缩文件");
    case Status::Damaged:
        return QStringLiteral("文件已损坏或不完整");
    case Status::Unsafe:
        return QStringLiteral("含有指向目标文件夹之外的路径，已拒绝");
    case Status::NoPermission:
        return QStringLiteral("没有读写权限");
    case Status::MissingPart:
        return QStringLiteral("缺少分卷");
    case Status::Changed:
        return QStringLiteral("读取时被修改");
    case Status::PasswordUnconfirmed:
        return QStringLiteral("无法确认密码是否正确");
    case Status::Unsupported:
        return QStringLiteral("使用了不支持的压缩方式");
    }
    return QStringLiteral("发生未知错误");
}

QString text(Outcome::Status status, const QString& subject)
{
    const QString reason = key(status);
    if (reason.isEmpty())
        return {};
    if (subject.isEmpty())
        return L(reason);
    return L(QStringLiteral("%1：%2")).arg(subject, L(reason));
}

QString text(const QString& statusName, const QString& subject)
{
    const std::optional<Outcome::Status> status = Outcome::statusFromName(statusName);
    return status ? text(*status, subject) : QString();
}

QString keptText(int kept, int written)
{
    if (kept <= 0)
        return {};
    // Nothing placed at all deserves plain words: the folder looks untouched.
    if (written <= 0)
        return L(QStringLiteral("没有写入任何文件，%1 个已有文件均已保留")).arg(kept);
    return L(QStringLiteral("已保留 %1 个已有文件")).arg(kept);
}

} // namespace JobReasons
