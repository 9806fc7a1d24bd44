#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// One run of the real program in a private set of user folders, its
// standard error collected as it comes.
class Launch final {
public:
    Launch(const QString& home, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"ZAVRIN_ENDPOINT_BASE"_s);
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        for (const char* folder : { "RUNTIME_DIR", "CONFIG_HOME", "DATA_HOME", "CACHE_HOME" })
            env.insert(u"XDG_"_s + QLatin1String(folder), home + u'/' + QString::fromLatin1(folder).toLower());
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(home);
        QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
            [this] { m_log += QString::fromUtf8(m_process.readAllStandardError()); });
        m_process.start(QStringLiteral(ZAVRIN_APP_PATH), arguments);
    }
    ~Launch()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QProcess& process() { return m_process; }
    const QString& log() const { return m_log; }

private:
    QProcess m_process;
    QString m_log;
};

} // namespace

class SecondLaunchTest final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_home;

    QString home() const { return m_home->path(); }
    bool socketExists() const
    {
        return !QDir(home() + u"/runtime_dir"_s).entryList({ u"*.socket"_s }, QDir::System).isEmpty();
    }
    // Runs a later launch with `arguments` to its end; true when it handed over.
    bool handsOver(const QStringList& arguments)
    {
        Launch later(home(), arguments);
        return later.process().waitForFinished(15000) && later.process().exitStatus() == QProcess::NormalExit
            && later.process().exitCode() == 0;
    }

private slots:
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir(home()).mkdir(u"runtime_dir"_s));
        QVERIFY(
            QFile::setPermissions(home() + u"/runtime_dir"_s, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void laterLaunchHandsItsDocumentsOver()
    {
        Launch primary(home(), {});
        QTRY_VERIFY_WITH_TIMEOUT(socketExists(), 15000);
        // A relative path is the later launch's, resolved in its folder.
        QVERIFY(handsOver({ u"first.zip"_s, u"/data/second.rar"_s }));
        const QString expected = u"打开的文件: %1/first.zip, /data/second.rar"_s.arg(home());
        QTRY_VERIFY2_WITH_TIMEOUT(primary.log().contains(expected), qPrintable(primary.log()), 10000);
        // Started again with nothing to open, it only brings the window back.
        QVERIFY(handsOver({}));
        QCOMPARE(primary.process().state(), QProcess::Running);
    }

    void crashedInstanceIsTakenOver()
    {
        {
            Launch crashed(home(), {});
            QTRY_VERIFY_WITH_TIMEOUT(socketExists(), 15000);
            crashed.process().kill();
            QVERIFY(crashed.process().waitForFinished(5000));
        }
        QVERIFY(socketExists());
        // The socket and lock left behind must not stop the next launch, nor
        // make it hand its document to nobody.
        Launch next(home(), { u"/data/a.7z"_s });
        QVERIFY(!next.process().waitForFinished(2000));
        QTRY_VERIFY_WITH_TIMEOUT(next.log().contains(u"打开的文件: /data/a.7z"_s), 10000);
        QVERIFY(handsOver({ u"/data/b.zip"_s }));
        QTRY_VERIFY_WITH_TIMEOUT(next.log().contains(u"打开的文件: /data/b.zip"_s), 10000);
    }
};

ZAVRIN_TEST(SecondLaunchTest)
#include "tst_secondlaunch.moc"
