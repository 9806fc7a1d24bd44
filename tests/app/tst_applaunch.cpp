#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TestMain.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>
#include <algorithm>

using namespace Qt::StringLiterals;

// Starts the real program against a loopback server standing for the
// collection services, in a home of its own, as a user would launch it.
class AppLaunchTest final : public QObject {
    Q_OBJECT

    LoopbackHttpServer m_server;
    QTemporaryDir m_home;

    QStringList logEventNames() const
    {
        QStringList names;
        for (const LoopbackHttpServer::Request& request : m_server.requests()) {
            if (request.path == "/api/log/receive")
                names.append(QJsonDocument::fromJson(request.body).object()[u"eventName"].toString());
        }
        return names;
    }

    // Runs the program until it has sent the log events `expected`, then a
    // little longer, and ends it.
    bool runOnce(QProcess& app, const QStringList& expected)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* folder : { "HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME" })
            environment.insert(QString::fromLatin1(folder), m_home.filePath(QString::fromLatin1(folder)));
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.insert(u"ZAVRIN_ENDPOINT_BASE"_s, m_server.baseUrl().toString());
        app.setProcessEnvironment(environment);
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(QStringLiteral(ZAVRIN_APP_PATH), QStringList());
        const auto arrived = [&] {
            const QStringList names = logEventNames();
            return std::all_of(expected.cbegin(), expected.cend(), [&](const QString& n) { return names.contains(n); });
        };
        const bool launched = app.waitForStarted(10000) && QTest::qWaitFor(arrived, 20000);
        QTest::qWait(700); // anything sent behind them arrives now
        app.terminate();
        if (!app.waitForFinished(5000))
            app.kill();
        return launched;
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    void launchSendsTheSessionLaunchAndActivationOnce()
    {
        const QStringList firstRun { u"launch"_s, u"qv_launch_event"_s, u"zd_callback_event"_s };
        QProcess first;
        QVERIFY(runOnce(first, firstRun));
        QStringList names = logEventNames();
        names.sort();
        QCOMPARE(names, firstRun);

        // The second start of the installation: no activation, and the first
        // run's stored hits go out as the analytics client starts.
        m_server.clearRequests();
        const QStringList laterRun { u"launch"_s, u"qv_launch_event"_s };
        QProcess second;
        QVERIFY(runOnce(second, laterRun));
        names = logEventNames();
        names.sort();
        QCOMPARE(names, laterRun);
        QStringList categories;
        for (const LoopbackHttpServer::Request& request : m_server.requests()) {
            if (request.path != "/batch")
                continue;
            for (const QByteArray& line : request.body.split('\n'))
                categories.append(QUrlQuery(QString::fromUtf8(line)).queryItemValue(u"ec"_s, QUrl::FullyDecoded));
        }
        QVERIFY2(categories.contains(u"App启动"_s), qPrintable(categories.join(u',')));
    }
};

ZAVRIN_TEST(AppLaunchTest)
#include "tst_applaunch.moc"
