#include "app/cli/CommandHelpers.h"
#include "app/cli/CommandLine.h"
#include "tests/support/TestMain.h"

#include <QTest>

using namespace Qt::StringLiterals;

class CommandLineTest final : public QObject {
    Q_OBJECT

private slots:
    void parsesTheTwoCommands()
    {
        CommandLine line;
        QVERIFY(CommandLine::parse({ u"extract"_s, u"a.zip"_s, u"-o"_s, u"out"_s, u"--password-stdin"_s }, &line).ok());
        QCOMPARE(line.command, CommandLine::Command::Extract);
        QCOMPARE(line.archive, u"a.zip"_s);
        QCOMPARE(line.outputFolder, u"out"_s);
        QVERIFY(line.passwordFromStdin);
        QVERIFY(line.entries.isEmpty() && !line.smart && !line.verbose);

        QVERIFY(
            CommandLine::parse({ u"extract"_s, u"a.zip"_s, u"--smart"_s, u"-v"_s, u"d/"_s, u"--"_s, u"-x"_s }, &line)
                .ok());
        QCOMPARE(line.entries, (QStringList { u"d/"_s, u"-x"_s }));
        QVERIFY(line.smart && line.verbose);

        QVERIFY(CommandLine::parse({ u"list"_s, u"--json"_s, u"a.zip"_s }, &line).ok());
        QCOMPARE(line.command, CommandLine::Command::List);
        QVERIFY(line.json);

        QVERIFY(CommandLine::parse(
            { u"compress"_s, u"-o"_s, u"x.zip"_s, u"--level"_s, u"9"_s, u"a"_s, u"--"_s, u"-b"_s, u"-h"_s }, &line)
                    .ok());
        QCOMPARE(line.command, CommandLine::Command::Compress);
        QCOMPARE(line.archive, u"x.zip"_s);
        QCOMPARE(line.level, 9);
        QCOMPARE(line.items, (QStringList { u"a"_s, u"-b"_s, u"-h"_s }));
        QVERIFY(!line.passwordFromStdin);

        QVERIFY(CommandLine::parse({ u"compress"_s, u"-o"_s, u"x.zip"_s, u"a"_s }, &line).ok());
        QCOMPARE(line.level, 1);
        QCOMPARE(line.format, CompressionOptions::Format::Zip);

        QVERIFY(
            CommandLine::parse({ u"compress"_s, u"--format"_s, u"tar.zst"_s, u"-o"_s, u"x"_s, u"a"_s }, &line).ok());
        QCOMPARE(line.format, CompressionOptions::Format::TarZst);
    }

    void refusesWhatItCannotRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown verb") << QStringList { u"show"_s, u"a.zip"_s };
        QTest::newRow("two archives to list") << QStringList { u"list"_s, u"a.zip"_s, u"b.zip"_s };
        QTest::newRow("output on list") << QStringList { u"list"_s, u"-o"_s, u"x"_s, u"a.zip"_s };
        QTest::newRow("no archive") << QStringList { u"extract"_s, u"-o"_s, u"x"_s };
        QTest::newRow("no output") << QStringList { u"compress"_s, u"a"_s };
        QTest::newRow("no items") << QStringList { u"compress"_s, u"-o"_s, u"x.zip"_s };
        QTest::newRow("bad level") << QStringList { u"compress"_s, u"-o"_s, u"x.zip"_s, u"--level"_s, u"5"_s, u"a"_s };
        QTest::newRow("level on extract") << QStringList { u"extract"_s, u"--level"_s, u"1"_s, u"a.zip"_s };
        QTest::newRow("dangling -o") << QStringList { u"extract"_s, u"a.zip"_s, u"-o"_s };
        QTest::newRow("unknown format") << QStringList { u"compress"_s, u"--format"_s, u"rar"_s, u"-o"_s, u"x"_s,
            u"a"_s };
        QTest::newRow("format on extract") << QStringList { u"extract"_s, u"--format"_s, u"7z"_s, u"a.zip"_s };
    }

    void refusesWhatItCannotRun()
    {
        QFETCH(QStringList, arguments);
        CommandLine line;
        const Outcome parsed = CommandLine::parse(arguments, &line);
        QCOMPARE(parsed.status, Outcome::Status::Usage);
        QVERIFY(!parsed.message.isEmpty());
    }
};

// Arguments and passwords as bytes: text exactly when they are UTF-8.
class Utf8ArgumentTest final : public QObject {
    Q_OBJECT

private slots:
    void decodesOnlyWhatIsUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("text");
        QTest::newRow("ASCII") << QByteArray("out.zip") << true;
        QTest::newRow("more than ASCII") << QByteArray("文件 ü.zip") << true;
        QTest::newRow("byte order mark kept") << QByteArray("\xEF\xBB\xBFname") << true;
        QTest::newRow("Latin-1 byte") << QByteArray("out\xff.zip") << false;
        QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("cut short") << QByteArray("ab\xE6\x96") << false;
    }
    void decodesOnlyWhatIsUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, text);
        QString decoded;
        const Outcome outcome = Cli::decodeUtf8(bytes, &decoded);
        QCOMPARE(outcome.ok(), text);
        if (text)
            QCOMPARE(decoded.toUtf8(), bytes);
        else
            QCOMPARE(outcome.status, Outcome::Status::Usage);
    }
};

ZAVRIN_TEST(CommandLineTest)
ZAVRIN_TEST(Utf8ArgumentTest)
#include "tst_commandline.moc"
