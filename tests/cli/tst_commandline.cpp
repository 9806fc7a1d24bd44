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
    }

    void refusesWhatItCannotRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown verb") << QStringList { u"list"_s, u"a.zip"_s };
        QTest::newRow("two archives") << QStringList { u"extract"_s, u"a.zip"_s, u"b.zip"_s };
        QTest::newRow("no output") << QStringList { u"compress"_s, u"a"_s };
        QTest::newRow("no items") << QStringList { u"compress"_s, u"-o"_s, u"x.zip"_s };
        QTest::newRow("bad level") << QStringList { u"compress"_s, u"-o"_s, u"x.zip"_s, u"--level"_s, u"5"_s, u"a"_s };
        QTest::newRow("level on extract") << QStringList { u"extract"_s, u"--level"_s, u"1"_s, u"a.zip"_s };
        QTest::newRow("dangling -o") << QStringList { u"extract"_s, u"a.zip"_s, u"-o"_s };
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

ZAVRIN_TEST(CommandLineTest)
#include "tst_commandline.moc"
