#include "feedback/ApiManager.h"
#include "feedback/ChoiceView.h"
#include "feedback/FeedbackVC.h"
#include "platform/Bundle.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/RecordingToasts.h"
#include "tests/support/TestMain.h"

#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kBlankOrChoice = u"请输入反馈信息或选择满意度"_s;
const QString kTooLong = u"反馈文本太长"_s;
const QString kFailed = u"提交失败，在稍后再次尝试"_s;

// Fills the form of a freshly opened screen and presses submit.
struct Form {
    QPointer<FeedbackVC> screen = FeedbackVC::initFromStory();
    QPushButton* submit = nullptr;

    Form(const QString& comment, const QString& contact, int choice)
    {
        screen->presentAsModalWindow(nullptr);
        screen->findChild<QPlainTextEdit*>(u"commentTextEdit"_s)->setPlainText(comment);
        screen->findChild<QLineEdit*>(u"contactLineEdit"_s)->setText(contact);
        if (choice)
            QTest::mouseClick(
                screen->findChild<ChoiceView*>(choice == 1 ? u"goodView"_s : u"noGoodView"_s), Qt::LeftButton);
        submit = screen->findChild<QPushButton*>(u"submitButton"_s);
    }
    ~Form() { delete screen.data(); }
    QString comment() const { return screen->findChild<QPlainTextEdit*>(u"commentTextEdit"_s)->toPlainText(); }
};

} // namespace

class FeedbackTest final : public QObject {
    Q_OBJECT

private:
    LoopbackHttpServer m_server;

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }

    void cleanup()
    {
        m_server.serveEndpoints(false);
        m_server.clearRequests();
        m_server.setReply(LoopbackHttpServer::Reply {});
    }

    void commentsDateUsesCalendarYear_data()
    {
        QTest::addColumn<QDateTime>("when");
        QTest::addColumn<QString>("expected");
        // Monday of ISO week 1 of 2025, and a Friday in week 53 of 2020.
        QTest::newRow("2024-12-30") << QDateTime(QDate(2024, 12, 30), QTime(10, 5, 7, 123))
                                    << u"2024-12-30 10:05:07 12"_s;
        QTest::newRow("2021-01-01") << QDateTime(QDate(2021, 1, 1), QTime(0, 0, 0, 9)) << u"2021-01-01 00:00:00 00"_s;
        QTest::newRow("last hundredth") << QDateTime(QDate(2026, 6, 15), QTime(23, 59, 59, 999))
                                        << u"2026-06-15 23:59:59 99"_s;
    }

    void commentsDateUsesCalendarYear()
    {
        QFETCH(QDateTime, when);
        QFETCH(QString, expected);
        QCOMPARE(ApiManager::commentsDate(when), expected);
    }

    void submit_data()
    {
        QTest::addColumn<QString>("comment");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("configured");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<bool>("closes");

        const QString blank = u" \n\t \n"_s;
        const QString x1000(1000, u'x');
        QTest::newRow("blank, no choice") << blank << 0 << true << 200 << kBlankOrChoice << false << false;
        QTest::newRow("choice, blank comment") << blank << 1 << true << 200 << QString() << false << true;
        QTest::newRow("1000 characters") << x1000 << 0 << true << 200 << QString() << true << true;
        QTest::newRow("untrimmed") << u"  slow on big files \n"_s << 0 << true << 200 << QString() << true << true;
        QTest::newRow("1001 characters") << x1000 + u'x' << 0 << true << 200 << kTooLong << false << false;
        // 501 characters outside the BMP are 1002 UTF-16 units.
        QTest::newRow("surrogate pairs") << u"😀"_s.repeated(501) << 0 << true << 200 << kTooLong << false << false;
        QTest::newRow("server error") << u"hello"_s << 1 << true << 500 << kFailed << true << false;
        QTest::newRow("unconfigured endpoint") << u"hello"_s << 0 << false << 200 << kFailed << false << false;
    }

    void submit()
    {
        QFETCH(QString, comment);
        QFETCH(int, choice);
        QFETCH(bool, configured);
        QFETCH(int, status);
        QFETCH(QString, toast);
        QFETCH(bool, sent);
        QFETCH(bool, closes);
        m_server.serveEndpoints(configured);
        if (!configured && !Bundle::endpointBase(Bundle::Endpoint::Feedback).isEmpty())
            QSKIP("this build has a feedback endpoint of its own");
        m_server.setReply(status, "application/json", "{}");
        RecordingToasts toasts;

        Form form(comment, QString(), choice);
        QTest::mouseClick(form.submit, Qt::LeftButton);
        if (sent) {
            QVERIFY(!form.submit->isEnabled());
            QTRY_COMPARE(m_server.requestCount(), 1);
            // The form as typed; an empty contact is still a text.
            const LoopbackHttpServer::Request request = m_server.requests().first();
            QCOMPARE(request.method + ' ' + request.path, QByteArray("POST /Statistics_branch/transit/addData"));
            QCOMPARE(request.header("content-type"), QByteArray("application/json"));
            const QJsonObject body = request.json();
            QCOMPARE(body.value(u"comments"_s).toString(), comment);
            QCOMPARE(body.value(u"feedback_email"_s), QJsonValue(QString()));
            const QString system = body.value(u"product_type"_s).toString();
            QVERIFY(!system.isEmpty() && system != u"macOS"_s);
            const QRegularExpression date(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d \d\d$)"));
            QVERIFY(date.match(body.value(u"cpmments_date"_s).toString()).hasMatch());
        }
        if (closes) {
            QTRY_VERIFY(!form.screen);
        } else {
            QTRY_VERIFY(form.submit->isEnabled());
            QTRY_COMPARE(toasts.toasts.size(), 1);
            QCOMPARE(toasts.toasts.first().text, L(toast));
            QCOMPARE(form.comment(), comment);
            QVERIFY(form.screen->isVisible());
        }
        QTest::qWait(20);
        QCOMPARE(m_server.requestCount(), sent ? 1 : 0);
        if (closes)
            QVERIFY(toasts.toasts.isEmpty());
    }

    void closingWhileSendingIsSafe()
    {
        m_server.serveEndpoints();
        m_server.setReply(503, "text/plain", "busy");
        RecordingToasts toasts;
        Form form(u"hello"_s, QString(), 0);
        QTest::mouseClick(form.submit, Qt::LeftButton);
        form.screen->close();
        QTRY_VERIFY(!form.screen);
        // The answer still arrives and is told, with no screen left to touch.
        QTRY_COMPARE(toasts.count(RecordingToasts::Kind::Error, L(kFailed)), 1);
    }
};

ZAVRIN_TEST(FeedbackTest)
#include "tst_feedback.moc"
