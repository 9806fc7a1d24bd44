#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "platform/MainQueue.h"
#include "platform/NotificationCenter.h"
#include "platform/RouterManager.h"
#include "platform/StoreReview.h"
#include "tests/support/TestMain.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <atomic>

class PlatformTest final : public QObject {
    Q_OBJECT

private slots:
    void notificationsRunOnThePostingThread()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        QObject context;
        QList<Qt::HANDLE> threads;
        QVariantMap received;
        center.addObserver(QStringLiteral("test.sameThread"), &context, [&](const Notification& n) {
            threads.append(QThread::currentThreadId());
            received = n.object;
        });

        center.post(QStringLiteral("test.sameThread"), { { QStringLiteral("path"), QStringLiteral("/a.zip") } });
        QCOMPARE(threads.size(), 1); // synchronous
        QCOMPARE(threads.first(), QThread::currentThreadId());
        QCOMPARE(received.value(QStringLiteral("path")).toString(), QStringLiteral("/a.zip"));

        std::unique_ptr<QThread> worker(QThread::create([&center] {
            center.post(QStringLiteral("test.sameThread"), { { QStringLiteral("progress"), 0.5 } });
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QCOMPARE(threads.size(), 2);
        QVERIFY(threads.last() != QThread::currentThreadId());

        center.post(QStringLiteral("test.otherName"));
        QCOMPARE(threads.size(), 2);
    }

    void observersEndWithTheirContext()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        int calls = 0;
        {
            QObject context;
            center.addObserver(QStringLiteral("test.context"), &context, [&](const Notification&) { ++calls; });
            center.post(QStringLiteral("test.context"));
        }
        center.post(QStringLiteral("test.context"));
        QCOMPARE(calls, 1);

        const auto token
            = center.addObserver(QStringLiteral("test.context"), nullptr, [&](const Notification&) { ++calls; });
        center.removeObserver(token);
        center.post(QStringLiteral("test.context"));
        QCOMPARE(calls, 1);
    }

    // Once removeObserver returns, no handler of that observer is running on
    // any thread; a handler may still remove its own observer.
    void removalWaitsForARunningHandler()
    {
        NotificationCenter& center = NotificationCenter::defaultCenter();
        std::atomic<bool> entered { false };
        std::atomic<bool> finished { false };
        const auto token = center.addObserver(QStringLiteral("test.slow"), nullptr, [&](const Notification&) {
            entered = true;
            QThread::msleep(300);
            finished = true;
        });
        std::unique_ptr<QThread> worker(QThread::create([&center] { center.post(QStringLiteral("test.slow")); }));
        worker->start();
        QTRY_VERIFY(entered);
        center.removeObserver(token);
        QVERIFY(finished);
        QVERIFY(worker->wait(5000));

        NotificationCenter::Token self = 0;
        int calls = 0;
        self = center.addObserver(QStringLiteral("test.self"), nullptr, [&](const Notification&) {
            ++calls;
            center.removeObserver(self);
        });
        center.post(QStringLiteral("test.self"));
        center.post(QStringLiteral("test.self"));
        QCOMPARE(calls, 1);
    }

    void mainQueueRunsBlocksLaterOnTheMainThread()
    {
        QStringList order;
        MainQueue::async([&] { order.append(QStringLiteral("async")); });
        order.append(QStringLiteral("caller"));
        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> ranAfter { -1 };
        MainQueue::after(0.2, [&] { ranAfter = clock.elapsed(); });
        std::unique_ptr<QThread> worker(QThread::create([&] {
            MainQueue::async(
                [&] { order.append(MainQueue::isMainThread() ? QStringLiteral("main") : QStringLiteral("other")); });
        }));
        worker->start();
        QVERIFY(worker->wait(5000));
        QTRY_VERIFY(ranAfter >= 0);
        QVERIFY(ranAfter >= 190);
        QCOMPARE(order, (QStringList { QStringLiteral("caller"), QStringLiteral("async"), QStringLiteral("main") }));
    }

    void defaultsSurviveANewInstance()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("defaults.ini"));
        {
            Defaults defaults(file);
            QVERIFY(!defaults.boolForKey(QStringLiteral("app.HasRateKey")));
            defaults.setValue(QStringLiteral("app.HasRateKey"), true);
            defaults.setValue(QStringLiteral("App.lastTrackId"), QStringLiteral("0B1A…"));
            defaults.setValue(QStringLiteral("app.VersionRateDicKey"), QVariantMap { { QStringLiteral("1.0"), true } });
        }
        Defaults again(file);
        QVERIFY(again.boolForKey(QStringLiteral("app.HasRateKey")));
        QCOMPARE(again.stringForKey(QStringLiteral("App.lastTrackId")), QStringLiteral("0B1A…"));
        QCOMPARE(again.mapForKey(QStringLiteral("app.VersionRateDicKey")).value(QStringLiteral("1.0")).toBool(), true);
        again.remove(QStringLiteral("app.HasRateKey"));
        QVERIFY(!again.contains(QStringLiteral("app.HasRateKey")));
    }

    void languageChoice_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("text");
        QTest::newRow("simplified") << QStringList { QStringLiteral("zh-CN") } << QStringLiteral("zh_CN")
                                    << QStringLiteral("解压完成");
        QTest::newRow("plain zh") << QStringList { QStringLiteral("zh") } << QStringLiteral("zh_CN")
                                  << QStringLiteral("解压完成");
        QTest::newRow("traditional") << QStringList { QStringLiteral("zh-TW") } << QStringLiteral("zh_TW")
                                     << QStringLiteral("解壓縮完成");
        QTest::newRow("hant script") << QStringList { QStringLiteral("zh-Hant-HK") } << QStringLiteral("zh_TW")
                                     << QStringLiteral("解壓縮完成");
        QTest::newRow("english") << QStringList { QStringLiteral("en-GB") } << QStringLiteral("en")
                                 << QStringLiteral("Extraction complete");
        QTest::newRow("first match wins")
            << QStringList { QStringLiteral("de-DE"), QStringLiteral("zh-TW"), QStringLiteral("en") }
            << QStringLiteral("zh_TW") << QStringLiteral("解壓縮完成");
        QTest::newRow("unshipped") << QStringList { QStringLiteral("fr-FR") } << QStringLiteral("en")
                                   << QStringLiteral("Extraction complete");
    }

    void languageChoice()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, table);
        QFETCH(QString, text);
        Bundle::setPreferredLanguages(languages);
        QCOMPARE(Bundle::preferredLocalization(), table);
        QCOMPARE(L(QStringLiteral("解压完成")), text);
        Bundle::setPreferredLanguages({});
    }

    void missingKeyIsItsOwnText()
    {
        Bundle::setPreferredLanguages({ QStringLiteral("en") });
        QCOMPARE(L(QStringLiteral("没有这个键")), QStringLiteral("没有这个键"));
        QCOMPARE(L(QStringLiteral("Zavrin")), QStringLiteral("Zavrin"));
        Bundle::setPreferredLanguages({});
    }

    // The compiled tables give every row of strings.tsv in its language.
    void everyTableTranslatesEveryKey()
    {
        QFile rows(QStringLiteral(ZAVRIN_STRINGS_TSV));
        QVERIFY(rows.open(QIODevice::ReadOnly | QIODevice::Text));
        int checked = 0;
        while (!rows.atEnd()) {
            const QString line = QString::fromUtf8(rows.readLine()).chopped(1);
            if (line.trimmed().isEmpty() || line.startsWith(u'#'))
                continue;
            const QStringList columns = line.split(u'\t'); // key, en, zh_TW
            QCOMPARE(columns.size(), 3);
            const std::pair<QString, QString> tables[] = { { QStringLiteral("zh-CN"), columns[0] },
                { QStringLiteral("en"), columns[1] }, { QStringLiteral("zh-TW"), columns[2] } };
            for (const auto& [language, translation] : tables) {
                Bundle::setPreferredLanguages({ language });
                QCOMPARE(L(columns[0]), translation);
            }
            ++checked;
        }
        Bundle::setPreferredLanguages({});
        QVERIFY(checked > 50);
    }

    void endpointsComeFromTheEnvironmentOverride()
    {
        QVERIFY(Bundle::endpointUrl(Bundle::Endpoint::Log, QStringLiteral("/api/log/receive")).isEmpty());
        qputenv("ZAVRIN_ENDPOINT_BASE", "http://127.0.0.1:8080/");
        QCOMPARE(Bundle::endpointUrl(Bundle::Endpoint::Analytics, QStringLiteral("/batch")),
            QUrl(QStringLiteral("http://127.0.0.1:8080/batch")));
        qunsetenv("ZAVRIN_ENDPOINT_BASE");
    }

    void reviewIsRequestedOncePerInstallationAndVersion()
    {
        Defaults::standard().remove(QStringLiteral("app.HasRateKey"));
        Defaults::standard().remove(QStringLiteral("app.VersionRateDicKey"));
        const int before = StoreReview::requestCount();
        RouterManager::showRateAllLife();
        RouterManager::showRateAllLife();
        QCOMPARE(StoreReview::requestCount(), before + 1);
        QVERIFY(Defaults::standard().boolForKey(QStringLiteral("app.HasRateKey")));

        // A stored entry counts whatever its value; other versions stay.
        Defaults::standard().setValue(QStringLiteral("app.VersionRateDicKey"),
            QVariantMap { { QStringLiteral("0.9"), true }, { Bundle::shortVersion(), false } });
        RouterManager::showRatedThisVersion();
        QCOMPARE(StoreReview::requestCount(), before + 1);
        Defaults::standard().setValue(
            QStringLiteral("app.VersionRateDicKey"), QVariantMap { { QStringLiteral("0.9"), true } });
        RouterManager::showRatedThisVersion();
        RouterManager::showRatedThisVersion();
        QCOMPARE(StoreReview::requestCount(), before + 2);
        const QVariantMap versions = Defaults::standard().mapForKey(QStringLiteral("app.VersionRateDicKey"));
        QCOMPARE(versions.size(), 2);
        QVERIFY(versions.value(Bundle::shortVersion()).toBool());
    }
};

ZAVRIN_TEST(PlatformTest)
#include "tst_platform.moc"
