#include "app/cli/CommandLine.h"
#include "tests/support/TestMain.h"

#include <QTest>

class CommandLineTest final : public QObject {
    Q_OBJECT

private slots:
    void parsesTheTwoCommands()
    {
        CommandLine line;
        QVERIFY(CommandLine::parse({ QStringLiteral("extract"), QStringLiteral("a.zip"), QStringLiteral("-o"),
                                       QStringLiteral("out"), QStringLiteral("--password-stdin") },
            &line)
                    .ok());
        QCOMPARE(line.command, CommandLine::Command::Extract);
        QCOMPARE(line.archive, QStringLiteral("a.zip"));
        QCOMPARE(line.outputFolder, QStringLiteral("out"));
        QVERIFY(line.passwordFromStdin);

        QVERIFY(CommandLine::parse({ QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("x.zip"),
                                       QStringLiteral("--level"), QStringLiteral("9"), QStringLiteral("a"),
                                       QStringLiteral("--"), QStringLiteral("-b"), QStringLiteral("-h") },
            &line)
                    .ok());
        QCOMPARE(line.command, CommandLine::Command::Compress);
        QCOMPARE(line.archive, QStringLiteral("x.zip"));
        QCOMPARE(line.level, 9);
        QCOMPARE(line.items, (QStringList { QStringLiteral("a"), QStringLiteral("-b"), QStringLiteral("-h") }));
        QVERIFY(!line.passwordFromStdin);

        QVERIFY(CommandLine::parse(
            { QStringLiteral("compress"), QStringLiteral("-o"), QStringLiteral("x.zip"), QStringLiteral("a") }, &line)
                    .ok());
        QCOMPARE(line.level, 1);
    }

    void refusesWhatItCannotRun_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("unknown verb") << QStringList { QStringLiteral("list"), QStringLiteral("a.zip") };
        QTest::newRow("two archives") << QStringList { QStringLiteral("extract"), QStringLiteral("a.zip"),
            QStringLiteral("b.zip") };
        QTest::newRow("no output") << QStringList { QStringLiteral("compress"), QStringLiteral("a") };
        QTest::newRow("no items") << QStringList { QStringLiteral("compress"), QStringLiteral("-o"),
            QStringLiteral("x.zip") };
        QTest::newRow("bad level") << QStringList { QStringLiteral("compress"), QStringLiteral("-o"),
            QStringLiteral("x.zip"), QStringLiteral("--level"), QStringLiteral("5"), QStringLiteral("a") };
        QTest::newRow("level on extract") << QStringList { QStringLiteral("extract"), QStringLiteral("--level"),
            QStringLiteral("1"), QStringLiteral("a.zip") };
        QTest::newRow("dangling -o") << QStringList { QStringLiteral("extract"), QStringLiteral("a.zip"),
            QStringLiteral("-o") };
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
