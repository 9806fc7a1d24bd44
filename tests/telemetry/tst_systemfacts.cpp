#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

using ZipInspection::writeFile;
using Addresses = QMap<QString, QString>;

} // namespace

class SystemFactsTest final : public QObject {
    Q_OBJECT

private slots:
    void factsComeFromTheSystemFiles()
    {
        QTemporaryDir root;
        writeFile(root.filePath(u"etc/os-release"_s),
            "# written by the vendor\n"
            "NAME=\"Fedora Linux\"\n"
            "VERSION_ID=39\n"
            "PRETTY_NAME='Fedora Linux 39 (Workstation \"Edition\")'\n"
            "VARIANT=\"Work \\\"station\\\" \\$HOME\"\n"
            "ID=fedora\n"
            "\n"
            "BROKEN LINE\n");
        writeFile(root.filePath(u"sys/class/dmi/id/product_name"_s), "ThinkPad X1 Carbon Gen 9 \n");
        writeFile(root.filePath(u"sys/class/dmi/id/sys_vendor"_s), "LENOVO\n");
        writeFile(root.filePath(u"etc/machine-id"_s), "0123456789abcdef0123456789abcdef\n");

        const SystemFacts facts(root.path());
        QCOMPARE(facts.osName(), u"Fedora Linux"_s);
        QCOMPARE(facts.osVersion(), u"39"_s);
        QCOMPARE(facts.osPrettyName(), u"Fedora Linux 39 (Workstation \"Edition\")"_s);
        QCOMPARE(facts.osRelease(u"VARIANT"_s), u"Work \"station\" $HOME"_s);
        QCOMPARE(facts.productName(), u"ThinkPad X1 Carbon Gen 9"_s);
        QCOMPARE(facts.vendor(), u"LENOVO"_s);
        QCOMPARE(facts.machineId(), u"0123456789abcdef0123456789abcdef"_s);
    }

    void missingFilesGiveFallbacks()
    {
        QTemporaryDir root;
        // Only the vendor copy of os-release, without NAME or VERSION_ID, as on a rolling release.
        writeFile(root.filePath(u"usr/lib/os-release"_s), "ID=arch\nBUILD_ID=rolling\n");
        writeFile(root.filePath(u"sys/class/dmi/id/product_name"_s), "  \n");
        writeFile(root.filePath(u"var/lib/dbus/machine-id"_s), "feedface\n");

        const SystemFacts facts(root.path());
        QCOMPARE(facts.osName(), u"arch"_s);
        QCOMPARE(facts.osVersion(), u"rolling"_s);
        QCOMPARE(facts.osPrettyName(), u"arch rolling"_s);
        QCOMPARE(facts.productName(), u"Unknown"_s);
        QCOMPARE(facts.vendor(), u"Unknown"_s);
        QCOMPARE(facts.machineId(), u"feedface"_s);

        const SystemFacts empty(root.filePath(u"nothing"_s));
        QCOMPARE(empty.osName(), empty.kernelName());
        QCOMPARE(empty.osVersion(), QString());
    }

    void fileTimes()
    {
        QCOMPARE(SystemFacts::fileTimeMsecs(u"/nonexistent/zavrin"_s), 0);
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
        QTest::newRow("private") << u"192.168.1.20"_s << true;
        QTest::newRow("top") << u"255.255.255.255"_s << true;
        QTest::newRow("leading zeros") << u"010.001.000.09"_s << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("256") << u"10.0.0.256"_s << false;
        QTest::newRow("three parts") << u"10.0.1"_s << false;
        QTest::newRow("four digits") << u"10.0.0.0001"_s << false;
        QTest::newRow("ipv6") << u"fe80::1"_s << false;
        QTest::newRow("mapped") << u"::ffff:10.0.0.1"_s << false;
        QTest::newRow("trailing line feed") << u"10.0.0.1\n"_s << false;
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
        const QStringList lanAndTunnel { u"enp3s0"_s, u"wg0"_s };
        QTest::newRow("tunnel first") << lanAndTunnel
                                      << Addresses { { u"enp3s0/ipv4"_s, u"192.168.1.5"_s },
                                             { u"wg0/ipv4"_s, u"10.8.0.2"_s } }
                                      << u"10.8.0.2"_s;
        QTest::newRow("tunnel without ipv4")
            << lanAndTunnel << Addresses { { u"enp3s0/ipv4"_s, u"192.168.1.5"_s }, { u"wg0/ipv6"_s, u"fd00::2"_s } }
            << u"192.168.1.5"_s;
        QTest::newRow("system order") << QStringList { u"eth1"_s,
            u"docker0"_s } << Addresses { { u"docker0/ipv4"_s, u"172.17.0.1"_s }, { u"eth1/ipv4"_s, u"10.1.2.3"_s } }
                                      << u"10.1.2.3"_s;
        // An IPv6 text is never reported as the IPv4 address, not even under the last key.
        QTest::newRow("ipv6 only") << QStringList { u"eth0"_s } << Addresses { { u"eth0/ipv6"_s, u"2001:db8::7"_s } }
                                   << u"0.0.0.0"_s;
        QTest::newRow("nothing") << QStringList() << Addresses() << u"0.0.0.0"_s;
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
