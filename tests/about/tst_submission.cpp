// "Add Server to List": what reaches the add-server page, and what the user sees.
#include "support/PromptRecorder.h"
#include "support/TestSupport.h"

#include "core/net/HttpTransfer.h"
#include "browser/frmTarvex.h"
#include "ui/FlexGrid.h"
#include "ui/ServerView.h"
#include "support/ServerRows.h"
#include "tools/listservice/ListService.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using tarvex::frmTarvex;
using tarvex::tools::ListService;
using namespace tarvex::test;

namespace {

const QString Waiting = QStringLiteral("Getting Server List...");

QStringList gridTexts(const frmTarvex &window)
{
    QStringList texts;
    for (int r = 0; r < window.Grid1->Rows(); ++r)
        for (int c = 0; c < window.Grid1->Cols(); ++c)
            texts << window.Grid1->TextMatrix(r, c);
    return texts;
}

void pointAt(const TempSettings &settings, const QString &host)
{
    settings.writeIni("[Endpoints]\nAddServerHost=" + host.toUtf8() + "\n");
}

} // namespace

class TestSubmission : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void submit_data();
    void submit();
    void unreachable_data();
    void unreachable();

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<PromptRecorder> m_prompts;
    std::unique_ptr<EndRecorder> m_end;
    std::unique_ptr<frmTarvex> m_window;
};

void TestSubmission::init()
{
    m_settings = std::make_unique<TempSettings>();
    m_prompts = std::make_unique<PromptRecorder>();
    m_end = std::make_unique<EndRecorder>();
    m_window = std::make_unique<frmTarvex>();
    m_window->Inet1->setTimeoutMs(5000);
    tarvex::test::setCell(*m_window, 1, 0, QStringLiteral("Some Server"));
    tarvex::test::setCell(*m_window, 1, 1, QStringLiteral("10.0.0.1:27910"));
}

void TestSubmission::cleanup()
{
    m_window.reset();
    m_end.reset();
    m_prompts.reset();
    m_settings.reset();
}

void TestSubmission::submit_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("expectedTarget");

    const QString page = QStringLiteral("/q2serverlist/addserver.asp?");
    const int normal = int(ListService::Mode::Normal);
    QTest::newRow("an address") << false << QStringLiteral("192.168.0.10") << normal
                                << page + QStringLiteral("tIP=192.168.0.10&tPort=27910");
    QTest::newRow("the default accepted")
        << false << QStringLiteral("000.000.000.000") << normal
        << page + QStringLiteral("tIP=000.000.000.000&tPort=27910");
    QTest::newRow("cancelled still sends")
        << true << QString() << normal << page + QStringLiteral("tIP=&tPort=27910");
    QTest::newRow("blank and ampersand as typed")
        << false << QStringLiteral("1.2.3.4 x&y") << normal
        << page + QStringLiteral("tIP=1.2.3.4%20x&y&tPort=27910");
    QTest::newRow("hash does not cut the query")
        << false << QStringLiteral("1.2.3.4#x") << normal
        << page + QStringLiteral("tIP=1.2.3.4%23x&tPort=27910");
    QTest::newRow("tab and non-ASCII") << false << QStringLiteral("\tm\u00fcller") << normal
                                       << page + QStringLiteral("tIP=%09m%C3%BCller&tPort=27910");
    QTest::newRow("a lone percent sign") << false << QStringLiteral("50%") << normal
                                         << page + QStringLiteral("tIP=50%25&tPort=27910");
    QTest::newRow("page not found is still an answer")
        << false << QStringLiteral("192.168.0.10") << int(ListService::Mode::NotFound)
        << page + QStringLiteral("tIP=192.168.0.10&tPort=27910");
    QTest::newRow("server error is still an answer")
        << false << QStringLiteral("192.168.0.10") << int(ListService::Mode::ServerError)
        << page + QStringLiteral("tIP=192.168.0.10&tPort=27910");
}

void TestSubmission::submit()
{
    QFETCH(bool, cancel);
    QFETCH(QString, typed);
    QFETCH(int, mode);
    QFETCH(QString, expectedTarget);

    ListService service;
    QVERIFY2(service.listen(), qPrintable(service.errorString()));
    service.setMode(ListService::Mode(mode));
    pointAt(*m_settings, service.baseUrl());
    m_prompts->answerNext(cancel ? tarvex::ui::Answer() : tarvex::ui::Answer(typed));
    const QStringList gridBefore = gridTexts(*m_window);

    QSignalSpy answered(m_window.get(), &tarvex::frmTarvex::submissionFinished);
    m_window->Command1->click();
    QVERIFY(answered.wait(10000));

    QCOMPARE(service.submissions(), QStringList{expectedTarget});
    QCOMPARE(m_prompts->prompts().size(), 1); // the input box, and no message after it
    const tarvex::ui::Prompt &asked = m_prompts->prompts().first();
    QCOMPARE(asked.kind, tarvex::ui::Prompt::Kind::Input);
    QCOMPARE(asked.text, QStringLiteral("Server IP Address:"));
    QCOMPARE(asked.title, QStringLiteral("Server IP Address"));
    QCOMPARE(asked.defaultText, QStringLiteral("000.000.000.000"));
    QCOMPARE(m_window->Label1->text(), Waiting);
    QCOMPARE(gridTexts(*m_window), gridBefore);
    QCOMPARE(service.listRequests(), 0);
}

void TestSubmission::unreachable_data()
{
    QTest::addColumn<int>("mode"); // -1: nothing listens on the port
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused port") << -1 << QStringLiteral("Connection refused");
    QTest::newRow("closed without an answer")
        << int(ListService::Mode::Close) << QStringLiteral("closed");
}

void TestSubmission::unreachable()
{
    QFETCH(int, mode);
    QFETCH(QString, reason);

    ListService service;
    QString host;
    if (mode < 0) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        host = QStringLiteral("http://127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
    } else {
        QVERIFY2(service.listen(), qPrintable(service.errorString()));
        service.setMode(ListService::Mode(mode));
        host = service.baseUrl();
    }
    pointAt(*m_settings, host);
    m_prompts->answerNext(QStringLiteral("192.168.0.10"));

    QSignalSpy answered(m_window.get(), &tarvex::frmTarvex::submissionFinished);
    m_window->Command1->click();
    QVERIFY(answered.wait(10000));

    const QString status = m_window->Label1->text();
    QVERIFY2(status.startsWith(QStringLiteral("Server not submitted: ")), qPrintable(status));
    QVERIFY2(status.contains(reason, Qt::CaseInsensitive), qPrintable(status));
    QCOMPARE(m_prompts->messages(), QStringList());
}

QTEST_MAIN(TestSubmission)
#include "tst_submission.moc"
