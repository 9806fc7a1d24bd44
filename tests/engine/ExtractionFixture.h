// What the extraction suites share: real archives (committed fixtures, or
// samples made at run time by make-samples.sh), scripted password sheets,
// recorded toasts and a fresh folder for each case.
#pragma once

#include "engine/ZipManager.h"
#include "engine/extract/ZipReader.h"
#include "engine/safety/EntrySink.h"
#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "tests/engine/ArchiveTesting.h"
#include "tests/engine/JobLog.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/ScriptedPanels.h"
#include "tests/support/ZipInspection.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace ExtractionTesting {

using namespace Qt::StringLiterals;

using Kind = RecordingToasts::Kind;
using ZipInspection::lstatOf;
using ZipInspection::writeFile;

inline QString fixture(const QString& name)
{
    return QStringLiteral(ZAVRIN_FIXTURES_DIR "/") + name;
}

// The shared RAR4 samples; ZAVRIN_SHARED_FIXTURES_DIR in the environment
// overrides the build's idea of where they are.
inline QString rar4(const QString& name)
{
    const QString configured = qEnvironmentVariable("ZAVRIN_SHARED_FIXTURES_DIR");
    return (configured.isEmpty() ? QStringLiteral(ZAVRIN_SHARED_FIXTURES_DIR) : configured) + u"/rar4/"_s + name;
}

#define REQUIRE_FILE(path)                                                                                             \
    if (!QFileInfo::exists(path))                                                                                      \
        QSKIP(qPrintable(u"missing sample "_s + (path)));

inline const QString kExtracting = u"解压文件中..."_s;
inline const QString kFinished = u"解压完成"_s;
inline const QString kError = u"解压文件错误"_s;
inline const QString kWrongPassword = u"解压密码错误"_s;

// 2001-02-03 04:05:06 and 2002-03-04 05:06:07 UTC, as make.sh sets them.
constexpr qint64 kFileTime = 981173106;
constexpr qint64 kFolderTime = 1015218367;

inline QMap<QString, QString> plainTree()
{
    return {
        { u"hello.txt"_s, u"file:hello, world\n"_s },
        { u"dir"_s, u"dir"_s },
        { u"dir/nested.txt"_s, u"file:nested file\n"_s },
        { u"empty-dir"_s, u"dir"_s },
        { u"empty.txt"_s, u"file:"_s },
        { u"tool.sh"_s, u"file:#!/bin/sh\necho tool\n"_s },
        { u"setuid.bin"_s, u"file:not really a program\n"_s },
        { u"link"_s, u"link:hello.txt"_s },
        { u"中文名.txt"_s, u"file:unicode name\n"_s },
    };
}

inline bool hasLeftovers(const QString& root)
{
    const auto items = snapshot(root);
    return std::any_of(items.keyBegin(), items.keyEnd(), [](const QString& key) { return key.contains(u".zavrin-"); });
}

inline QStringList topLevel(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// Runs a real tool, or tests/fixtures/craft.py for what no tool writes, in `folder`.
inline bool make(const QString& folder, const QString& program, const QStringList& arguments)
{
    if (program == u"craft")
        return ArchiveTesting::run(folder, u"python3"_s, QStringList { fixture(u"craft.py"_s) } + arguments);
    return ArchiveTesting::run(folder, program, arguments);
}

// One row per format, "<stem>.zip", ".rar" and ".7z", in an "archive" column.
inline void formatRows(const QString& stem)
{
    QTest::addColumn<QString>("archive");
    for (const char* format : { "zip", "rar", "7z" })
        QTest::newRow(format) << stem + u'.' + QLatin1String(format);
}

// A zip extracted by its reader alone, without a job around it.
inline Outcome extractZip(const QString& archive, const QString& folder, const std::optional<QString>& password,
    qint64 slice, const ExtractProgress& progress)
{
    ZipReader reader(archive, slice);
    if (const Outcome opened = reader.open(password); !opened.ok())
        return opened;
    EntrySink sink(folder, lcEngineZip);
    sink.progress().setCallback(progress);
    ExtractRequest request;
    request.password = password;
    return reader.extract(sink, request);
}

} // namespace ExtractionTesting

class ExtractionFixture : public QObject {
protected:
    using Kind = RecordingToasts::Kind;

    QString m_root;
    QString m_out;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_samples;
    std::unique_ptr<ScriptedPanels> m_panels;
    std::unique_ptr<RecordingToasts> m_toasts;

    std::unique_ptr<JobLog> m_log; // the last job's notifications

    // Extracts `archive` into m_out through the engine, with `options` if
    // given; true once the job has ended.
    bool extracted(const QString& archive, const std::optional<ExtractOptions>& options = std::nullopt)
    {
        m_log = std::make_unique<JobLog>(archive);
        if (options)
            ZipManager::shared().extract(archive, m_out, *options);
        else
            ZipManager::shared().unzipFileAtPath(archive, m_out);
        return m_log->waitForEnd();
    }
    // The job ended, succeeding or not as `success` says.
    bool ends(const QString& archive, bool success, const std::optional<ExtractOptions>& options = std::nullopt)
    {
        if (!extracted(archive, options))
            return false;
        if (m_log->succeeded() != success)
            qWarning("the job ended %s: %s", qPrintable(m_log->status()), qPrintable(m_log->reason()));
        return m_log->succeeded() == success;
    }
    bool succeeds(const QString& archive, const std::optional<ExtractOptions>& options = std::nullopt)
    {
        return ends(archive, true, options);
    }
    bool fails(const QString& archive, const std::optional<ExtractOptions>& options = std::nullopt)
    {
        return ends(archive, false, options);
    }
    int toastCount(Kind kind, const QString& key) const { return m_toasts->count(kind, L(key)); }

    // A path as it is, a committed fixture by name, else a sample made now
    // by make-samples.sh; "made:copy" is a copy of the sample under another
    // name.
    QString sample(const QString& name)
    {
        if (name.startsWith(u'/'))
            return name;
        if (name.contains(u':')) {
            const QString copy = m_samples->filePath(name.section(u':', 1));
            QFile::copy(sample(name.section(u':', 0, 0)), copy);
            return copy;
        }
        if (QFileInfo::exists(ExtractionTesting::fixture(name)))
            return ExtractionTesting::fixture(name);
        QProcess maker;
        maker.setProcessChannelMode(QProcess::ForwardedChannels);
        maker.start(QStringLiteral("bash"),
            { ExtractionTesting::fixture(QStringLiteral("make-samples.sh")), name, m_samples->path() });
        if (!maker.waitForFinished(120000) || maker.exitCode() != 0)
            qWarning("cannot make the sample %s", qPrintable(name));
        return m_samples->filePath(name);
    }

    void setUp()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_samples = std::make_unique<QTemporaryDir>();
        m_root = m_dir->path();
        m_out = m_root + QStringLiteral("/out");
        QDir().mkpath(m_out);
        m_panels = std::make_unique<ScriptedPanels>();
        m_toasts = std::make_unique<RecordingToasts>();
    }
    void tearDown()
    {
        m_log.reset();
        m_toasts.reset();
        m_panels.reset();
        m_dir.reset();
        m_samples.reset();
    }
};
