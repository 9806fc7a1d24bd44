#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"
#include "tests/support/TestMain.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

using Addresses = QMap<QString, QString>;

} // namespace

class SystemFactsTest final : public QObject {
    Q_OBJECT

private slots:
    void factsComeFromTheSystemFiles()
    {
        QTemporaryDir root;
        writeFile(root.filePath(QStringLiteral("etc/os-release")),
            "# written by the vendor\n"
            "NAME=\"Fedora Linux\"\n"
            "VERSION_ID=39\n"
            "PRETTY_NAME='Fedora Linux 39 (Workstation \"Edition\")'\n"
            "VARIANT=\"Work \\\"station\\\" \\$HOME\"\n"
            "ID=fedora\n"
            "\n"
            "BROKEN LINE\n");
        writeFile(root.filePath(QStringLiteral("sys/class/dmi/id/product_name")), "ThinkPad X1 Carbon Gen 9 \n");
        writeFile(root.filePath(QStringLiteral("sys/class/dmi/id/sys_vendor")), "LENOVO\n");
        writeFile(root.filePath(QStringLiteral("etc/machine-id")), "0123456789abcdef0123456789abcdef\n");

        const SystemFacts facts(root.path());
        QCOMPARE(facts.osName(), QStringLiteral("Fedora Linux"));
        QCOMPARE(facts.osVersion(), QStringLiteral("39"));
        QCOMPARE(facts.osPrettyName(), QStringLiteral("Fedora Linux 39 (Workstation \"Edition\")"));
        QCOMPARE(facts.osRelease(QStringLiteral("VARIANT")), QStringLiteral("Work \"station\" $HOME"));
        QCOMPARE(facts.productName(), QStringLiteral("ThinkPad X1 Carbon Gen 9"));
        QCOMPARE(facts.vendor(), QStringLiteral("LENOVO"));
        QCOMPARE(facts.machineId(), QStringLiteral("0123456789abcdef0123456789abcdef"));
    }

    void missingFilesGiveFallbacks()
    {
        QTemporaryDir root;
        // Only the vendor copy of os-release, without NAME or VERSION_ID, as on a rolling release.
        writeFile(root.filePath(QStringLiteral("usr/lib/os-release")), "ID=arch\nBUILD_ID=rolling\n");
        writeFile(root.filePath(QStringLiteral("sys/class/dmi/id/product_name")), "  \n");
        writeFile(root.filePath(QStringLiteral("var/lib/dbus/machine-id")), "feedface\n");

        const SystemFacts facts(root.path());
        QCOMPARE(facts.osName(), QStringLiteral("arch"));
        QCOMPARE(facts.osVersion(), QStringLiteral("rolling"));
        QCOMPARE(facts.osPrettyName(), QStringLiteral("arch rolling"));
        QCOMPARE(facts.productName(), QStringLiteral("Unknown"));
        QCOMPARE(facts.vendor(), QStringLiteral("Unknown"));
        QCOMPARE(facts.machineId(), QStringLiteral("feedface"));

        const SystemFacts empty(root.filePath(QStringLiteral("nothing")));
        QCOMPARE(empty.osName(), empty.kernelName());
        QCOMPARE(empty.osVersion(), QString());
    }

    void fileTimes()
    {
        QCOMPARE(SystemFacts::fileTimeMsecs(QStringLiteral("/nonexistent/zavrin")), 0);
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QDir(folder).removeRecursively();
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        const qint64 installed = SystemFacts::installTimeMsecs(); // makes the folder
        QVERIFY(QFileInfo(folder).isDir());
        QVERIFY2(installed >= before - 2000 && installed <= QDateTime::currentMSecsSinceEpoch() + 1000,
            qPrintable(QString::number(installed - before)));
        QVERIFY(SystemFacts::updateTimeMsecs() > 0);
        QVERIFY(SystemFacts::updateTimeMsecs() <= QDateTime::currentMSecsSinceEpoch());
    }

    void ipv4Test_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("private") << QStringLiteral("192.168.1.20") << true;
        QTest::newRow("top") << QStringLiteral("255.255.255.255") << true;
        QTest::newRow("leading zeros") << QStringLiteral("010.001.000.09") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("256") << QStringLiteral("10.0.0.256") << false;
        QTest::newRow("three parts") << QStringLiteral("10.0.1") << false;
        QTest::newRow("four digits") << QStringLiteral("10.0.0.0001") << false;
        QTest::newRow("ipv6") << QStringLiteral("fe80::1") << false;
        QTest::newRow("mapped") << QStringLiteral("::ffff:10.0.0.1") << false;
        QTest::newRow("trailing line feed") << QStringLiteral("10.0.0.1\n") << false;
    }

    void ipv4Test()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(UABuilder::isValidatIP(text), valid);
    }

    void localAddressChoice_data()
    {
        QTest::addColumn<QStringList>("interfaces");
        QTest::addColumn<Addresses>("addresses");
        QTest::addColumn<QString>("chosen");
        const QStringList lanAndTunnel { QStringLiteral("enp3s0"), QStringLiteral("wg0") };
        QTest::newRow("tunnel first") << lanAndTunnel
                                      << Addresses { { QStringLiteral("enp3s0/ipv4"), QStringLiteral("192.168.1.5") },
                                             { QStringLiteral("wg0/ipv4"), QStringLiteral("10.8.0.2") } }
                                      << QStringLiteral("10.8.0.2");
        QTest::newRow("tunnel without ipv4")
            << lanAndTunnel
            << Addresses { { QStringLiteral("enp3s0/ipv4"), QStringLiteral("192.168.1.5") },
                   { QStringLiteral("wg0/ipv6"), QStringLiteral("fd00::2") } }
            << QStringLiteral("192.168.1.5");
        QTest::newRow("system order") << QStringList { QStringLiteral("eth1"), QStringLiteral("docker0") }
                                      << Addresses { { QStringLiteral("docker0/ipv4"), QStringLiteral("172.17.0.1") },
                                             { QStringLiteral("eth1/ipv4"), QStringLiteral("10.1.2.3") } }
                                      << QStringLiteral("10.1.2.3");
        // An IPv6 text is never reported as the IPv4 address, not even under the last key.
        QTest::newRow("ipv6 only") << QStringList { QStringLiteral("eth0") }
                                   << Addresses { { QStringLiteral("eth0/ipv6"), QStringLiteral("2001:db8::7") } }
                                   << QStringLiteral("0.0.0.0");
        QTest::newRow("nothing") << QStringList() << Addresses() << QStringLiteral("0.0.0.0");
    }

    void localAddressChoice()
    {
        QFETCH(QStringList, interfaces);
        QFETCH(Addresses, addresses);
        QFETCH(QString, chosen);
        for (bool preferIPv4 : { true, false })
            QCOMPARE(UABuilder::chooseAddress(UABuilder::candidateKeys(interfaces, preferIPv4), addresses), chosen);
        QCOMPARE(UABuilder::candidateKeys(interfaces, true).size(), interfaces.size() * 2);
    }

    void interfaceMapHasNoLoopback()
    {
        const QMap<QString, QString> addresses = UABuilder::getIPAddresses();
        for (auto it = addresses.cbegin(); it != addresses.cend(); ++it) {
            QVERIFY(it.key().endsWith(u"/ipv4") || it.key().endsWith(u"/ipv6"));
            QVERIFY(it.value() != u"127.0.0.1" && it.value() != u"::1");
            QVERIFY(!it.value().contains(u'%'));
        }
        QVERIFY(UABuilder::isValidatIP(UABuilder::getIPAddress(true)));
    }
};

ZAVRIN_TEST(SystemFactsTest)
#include "tst_systemfacts.moc"
