#include "platform/Bundle.h"
#include "telemetry/KKGASystemInfo.h"
#include "telemetry/KKGoogleAnalytics.h"
#include "telemetry/SystemFacts.h"
#include "telemetry/UABuilder.h"
#include "tests/support/TestMain.h"
#include "tests/support/ZipInspection.h"
#include "tests/telemetry/WireGolden.h"

#include <QDateTime>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

using Addresses = QMap<QString, QString>;
using Files = QMap<QString, QByteArray>;

} // namespace

class SystemFactsTest final : public QObject {
    Q_OBJECT

private slots:
    void factsComeFromTheSystemFiles_data()
    {
        QTest::addColumn<Files>("files"); // below a fake root
        QTest::addColumn<QString>("facts"); // os name, version, pretty name, VARIANT, product, vendor, machine id
        const QString product = u"sys/class/dmi/id/product_name"_s;
        QTest::newRow("every file")
            << Files { { u"etc/os-release"_s,
                           "# written by the vendor\nNAME=\"Fedora Linux\"\nVERSION_ID=39\n"
                           "PRETTY_NAME='Fedora Linux 39 (Workstation \"Edition\")'\n"
                           "VARIANT=\"Work \\\"station\\\" \\$HOME\"\nID=fedora\n\nBROKEN LINE\n" },
                   { product, "ThinkPad X1 Carbon Gen 9 \n" }, { u"sys/class/dmi/id/sys_vendor"_s, "LENOVO\n" },
                   { u"etc/machine-id"_s, "0123456789abcdef0123456789abcdef\n" } }
            << u"Fedora Linux|39|Fedora Linux 39 (Workstation \"Edition\")|Work \"station\" $HOME|"
               "ThinkPad X1 Carbon Gen 9|LENOVO|0123456789abcdef0123456789abcdef"_s;
        // Only the vendor copy of os-release, without NAME or VERSION_ID, as on a rolling release.
        QTest::newRow("fallbacks") << Files { { u"usr/lib/os-release"_s, "ID=arch\nBUILD_ID=rolling\n" },
            { product, "  \n" }, { u"var/lib/dbus/machine-id"_s, "feedface\n" } }
                                   << u"arch|rolling|arch rolling||Unknown|Unknown|feedface"_s;
        QTest::newRow("nothing") << Files() << u"Linux||Linux||Unknown|Unknown|"_s; // the kernel's name
    }

    void factsComeFromTheSystemFiles()
    {
        QFETCH(Files, files);
        QFETCH(QString, facts);
        QTemporaryDir root;
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            QVERIFY(ZipInspection::writeFile(root.filePath(it.key()), it.value()));
        const SystemFacts read(root.path());
        QCOMPARE((QStringList { read.osName(), read.osVersion(), read.osPrettyName(), read.osRelease(u"VARIANT"_s),
                      read.productName(), read.vendor(), read.machineId() })
                     .join(u'|'),
            facts);
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
        // Milliseconds too: the test program was built in this century.
        QVERIFY(SystemFacts::updateTimeMsecs() > 1'000'000'000'000LL);
        QVERIFY(SystemFacts::updateTimeMsecs() <= QDateTime::currentMSecsSinceEpoch());
    }

    // The user agents against golden/user-agents.txt, filled with this machine's facts.
    void userAgentsMatchTheGolden()
    {
        QCOMPARE(KKGASystemInfo::versionTriple(u"12"_s), u"12_0_0"_s);
        QCOMPARE(KKGASystemInfo::versionTriple(u"22.04.3 LTS"_s), u"22_4_3"_s);
        const SystemFacts& system = SystemFacts::running();
        const WireGolden::Values values { { u"buildVersion"_s, Bundle::buildVersion() },
            { u"cpuType"_s, KKGASystemInfo::CPUType() },
            { u"systemVersion"_s, KKGASystemInfo::versionTriple(system.osVersion()) },
            { u"machineModel"_s, KKGASystemInfo::machineModel() }, { u"kernelName"_s, system.kernelName() },
            { u"kernelRelease"_s, system.kernelRelease() }, { u"machine"_s, system.machine() },
            { u"bundleName"_s, Bundle::name() }, { u"shortVersion"_s, Bundle::shortVersion() },
            { u"productName"_s, system.productName() }, { u"prettyName"_s, system.osPrettyName() },
            { u"qtVersion"_s, QString::fromLatin1(qVersion()) } };
        QCOMPARE((QStringList { KKGoogleAnalytics::userAgent(), system.browserUserAgent(), UABuilder::getUAString() }),
            WireGolden::lines(u"user-agents.txt"_s, values));
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
        QTest::addColumn<QString>("interfaces"); // in the system's order
        QTest::addColumn<QString>("addresses"); // key=address ...
        QTest::addColumn<QString>("chosen");
        QTest::newRow("tunnel first") << u"enp3s0 wg0"_s << u"enp3s0/ipv4=192.168.1.5 wg0/ipv4=10.8.0.2"_s
                                      << u"10.8.0.2"_s;
        QTest::newRow("tunnel without ipv4")
            << u"enp3s0 wg0"_s << u"enp3s0/ipv4=192.168.1.5 wg0/ipv6=fd00::2"_s << u"192.168.1.5"_s;
        QTest::newRow("system order") << u"eth1 docker0"_s << u"docker0/ipv4=172.17.0.1 eth1/ipv4=10.1.2.3"_s
                                      << u"10.1.2.3"_s;
        // An IPv6 text is never reported as the IPv4 address, not even under the last key.
        QTest::newRow("ipv6 only") << u"eth0"_s << u"eth0/ipv6=2001:db8::7"_s << u"0.0.0.0"_s;
        QTest::newRow("nothing") << QString() << QString() << u"0.0.0.0"_s;
    }

    void localAddressChoice()
    {
        QFETCH(QString, interfaces);
        QFETCH(QString, addresses);
        QFETCH(QString, chosen);
        const QStringList names = interfaces.split(u' ', Qt::SkipEmptyParts);
        Addresses map;
        for (const QString& pair : addresses.split(u' ', Qt::SkipEmptyParts))
            map.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        for (bool preferIPv4 : { true, false })
            QCOMPARE(UABuilder::chooseAddress(UABuilder::candidateKeys(names, preferIPv4), map), chosen);
        QCOMPARE(UABuilder::candidateKeys(names, true).size(), names.size() * 2);
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
