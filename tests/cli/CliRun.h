#pragma once

#include "platform/Bundle.h"

#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <unistd.h>

// What a run of the built zavrin-cli ended with: its exit status (-1 when it
// crashed or hung) and what it wrote on standard error.
struct CliRun final {
    int status = -1;
    QString err;
    QByteArray out;
};

// Runs zavrin-cli with `arguments` in `folder`, in English, in a session of
// its own so that it has no terminal to prompt on, staging in folder/tmp.
// `wrapper` (a program and its arguments) runs it; `input` is its standard
// input, closed afterwards unless `closeInput` is false.
inline CliRun runCli(const QStringList& arguments, const QString& folder, const QByteArray& input = {},
    const QStringList& wrapper = {}, bool closeInput = true)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("TMPDIR"), folder + QStringLiteral("/tmp"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(folder);
    process.setChildProcessModifier([] { ::setsid(); });
    const QStringList command = wrapper + QStringList { QStringLiteral(ZAVRIN_CLI_PATH) } + arguments;
    process.start(command.first(), command.mid(1));
    if (!process.waitForStarted())
        return {};
    process.write(input);
    if (closeInput)
        process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        process.kill();
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardError()), process.readAllStandardOutput() };
}

inline QString fixture(const QString& name)
{
    return QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + name;
}

// The text of `key` in the language the tests run the program in.
inline QString text(const char* key)
{
    return L(QString::fromUtf8(key));
}

inline bool writeTo(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// A wrapper for runCli that turns "<FF>" in every argument into the byte
// 0xFF, which QProcess cannot pass, and first enters the folder named by
// $ZAVRIN_TEST_CD, if set, with the same turn.
inline const QStringList kWithByteFF { QStringLiteral("bash"), QStringLiteral("-c"),
    QStringLiteral(R"(if [ -n "$ZAVRIN_TEST_CD" ]; then cd "${ZAVRIN_TEST_CD//<FF>/$'\xff'}" || exit 99; fi
args=(); for a in "$@"; do args+=("${a//<FF>/$'\xff'}"); done; exec "${args[@]}")"),
    QStringLiteral("bash") };
