// The Calls dock against the recording double: what the window's calls are
// recorded as, and Send again sending exactly the recorded bytes.
#include "callsdock.h"
#include "callsfilter.h"
#include "callsmodel.h"
#include "filechooser.h"
#include "pagetesting.h"
#include "zemdouble.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeWidget>

class tst_CallsDock : public QObject
{
    Q_OBJECT

private slots:
    void init() { zemdouble::reset(); }
    void sendAgainRepeatsTheRequestBytes();
    void savedCallsOpenAsTheyWere();
    void aBurstOfCallsIsOneInsertion();
};

namespace {

QStringList recorded(const CallsModel &model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r)
        rows << model.index(r, CallsModel::Command).data().toString() + QLatin1Char('/')
                + model.index(r, CallsModel::Origin).data().toString();
    return rows;
}

QByteArray request(const zemdouble::Call &call)
{
    return QByteArray(
        reinterpret_cast<const char *>(call.request.data()), qsizetype(call.request.size()));
}

} // namespace

void tst_CallsDock::sendAgainRepeatsTheRequestBytes()
{
    Window window(QStringLiteral("virtual://resistor"));
    const CallsModel &calls = *window.w.calls()->liveModel();
    std::vector<std::uint8_t> frame(100);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = std::uint8_t(i * 7);
    zemdouble::setResponse("zem_get_measurement_raw", frame);

    iopanel &raw = window.open(QStringLiteral("get_measurement_raw"));
    window.type(raw, QStringLiteral("Frame"), QStringLiteral("515"));
    QCOMPARE(window.send(raw), QStringLiteral("result_ok 0"));
    iopanel &settings = window.open(QStringLiteral("set_measurement_settings"));
    QTest::mouseClick(settings.getterButton, Qt::LeftButton);
    window.type(settings, QStringLiteral("NumberPoints"), QStringLiteral("4294967295"));
    window.type(settings, QStringLiteral("MaxVoltage"), QStringLiteral("-1.5e-7"));
    zemdouble::setResult("zem_set_measurement_settings", -3);
    QCOMPARE(window.send(settings), QStringLiteral("result_value_error (-3)"));

    // Clear the shown response, so that Send again must show it anew.
    field(raw, false, QStringLiteral("ADCHighCode"))->SetValue(QString());
    window.w.calls()->raise(); // its tables are built when first shown
    auto *table = window.w.findChild<QTableView *>(QStringLiteral("callsView"));
    auto *again = window.w.findChild<QPushButton *>(QStringLiteral("sendAgainButton"));
    for (const int row : { 2, 4 }) {
        table->selectRow(row);
        QVERIFY(again->isEnabled());
        QTest::mouseClick(again, Qt::LeftButton);
    }
    // Sent on the device thread; the window shows and logs each once it is back.
    QTRY_COMPARE(logMessages(window.w).size(), 6);
    window.w.calls()->liveModel()->flush(); // the table takes new rows once per frame
    QCOMPARE(recorded(calls),
        QStringList(
            { "close_device/connection", "open_device/connection", "get_measurement_raw/page",
                "get_measurement_settings/getter", "set_measurement_settings/page",
                "get_measurement_raw/replay", "set_measurement_settings/replay" }));

    // The library received the recorded bytes again, exactly.
    const auto &sent = zemdouble::calls();
    QCOMPARE(sent.size(), std::size_t(7));
    QCOMPARE(request(sent[5]), request(sent[2]));
    QCOMPARE(request(sent[6]), request(sent[4]));
    QCOMPARE(sent[6].request.size(), std::size_t(48));
    QCOMPARE(calls.call(6).result, -3);
    // ... and the window showed and logged it as a Send does.
    QCOMPARE(field(raw, false, QStringLiteral("ADCHighCode"))->GetValue().isEmpty(), false);
    QCOMPARE(logMessages(window.w).mid(logMessages(window.w).size() - 2),
        QStringList({ "zem_get_measurement_raw returned result_ok 0",
            "zem_set_measurement_settings returned result_value_error (-3)" }));

    // Open and close have no Send again.
    table->selectRow(1);
    QVERIFY(!again->isEnabled());
}

class NamedFile : public FileChooser
{
public:
    QString name;
    QString saveFileName(const Question &, QString *) override { return name; }
    QString openFileName(const Question &) override { return name; }
};

void tst_CallsDock::savedCallsOpenAsTheyWere()
{
    Window window(QStringLiteral("virtual://open"));
    zemdouble::setResult("zem_get_status", -5);
    QCOMPARE(window.send(window.open(QStringLiteral("get_status"))),
        QStringLiteral("result_timeout (-5)"));
    CallsDock *dock = window.w.calls();
    dock->raise();
    auto files = std::make_shared<NamedFile>();
    window.w.setFileChooser(files);
    auto click = [&](const char *button) {
        QTest::mouseClick(dock->findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
    };
    const auto *status = window.w.statusBar()->findChild<QLabel *>(QStringLiteral("callsStatus"));
    QTRY_COMPARE(status->text().section(QStringLiteral(" in "), 0, 0),
        QStringLiteral(
            "Connected to virtual://open  |  last: get_status returned result_timeout (-5)"));
    QCOMPARE(
        status->text().section(QStringLiteral("  |  "), 2), QStringLiteral("3 calls, 1 failed"));

    QTemporaryDir dir;
    files->name = dir.filePath(QStringLiteral("calls.jsonl"));
    click("saveCallsButton");
    const QStringList live = recorded(*dock->liveModel());
    // A bad file is refused with its line, and the live view stays.
    QFile bad(dir.filePath(QStringLiteral("bad.jsonl")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("{}\n");
    bad.close();
    files->name = bad.fileName();
    click("openCallsButton");
    QVERIFY(dock->findChild<QLabel *>(QStringLiteral("callsMessage"))
                ->text()
                .contains(QStringLiteral("line 1: 'version'")));
    QCOMPARE(dock->shownModel(), dock->liveModel());

    files->name = dir.filePath(QStringLiteral("calls.jsonl"));
    click("openCallsButton");
    QVERIFY(dock->shownModel() != dock->liveModel());
    QCOMPARE(recorded(*dock->shownModel()), live);
    // New calls go to the live table, not to the file being viewed.
    window.send(*window.w.page(QStringLiteral("get_status")));
    QCOMPARE(dock->shownModel()->rowCount(), live.size());
    click("liveCallsButton");
    QCOMPARE(dock->liveModel()->rowCount(), live.size() + 1);
}

// The views hear of a burst of calls once, as one insertion; the ring keeps
// every call in order meanwhile, also across the drops of a full ring.
void tst_CallsDock::aBurstOfCallsIsOneInsertion()
{
    CallsModel model(200); // full at 200, then drops the oldest 2 at once
    CallsFilter filter;
    filter.setSourceModel(&model);
    filter.setErrorsOnly(true);
    QAbstractItemModelTester modelCheck(&model);
    QAbstractItemModelTester filterCheck(&filter);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy recordedSignal(&model, &CallsModel::recorded);
    const auto call = [](int i) {
        zem::calls::Call c;
        c.command = 3;
        c.wallMs = i;
        c.result = i % 3 == 0 ? -5 : 0;
        return c;
    };
    const auto failedInRing = [&] {
        int n = 0;
        for (std::size_t i = 0; i < model.ring().size(); ++i)
            n += model.ring().at(i).result != 0;
        return n;
    };

    for (int i = 0; i < 150; ++i)
        model.record(call(i));
    QCOMPARE(int(model.ring().size()), 150);
    QTRY_COMPARE(model.rowCount(), 150);
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(recordedSignal.size(), 1);
    QCOMPARE(filter.rowCount(), 50);

    for (int i = 150; i < 401; ++i)
        model.record(call(i));
    model.flush();
    QCOMPARE(model.rowCount(), int(model.ring().size()));
    QVERIFY(model.rowCount() >= 198);
    QCOMPARE(model.ring().dropped(), std::uint64_t(401 - model.rowCount()));
    for (int r = 0; r < model.rowCount(); ++r)
        QCOMPARE(model.call(r).wallMs, std::int64_t(401 - model.rowCount() + r));
    QCOMPARE(filter.rowCount(), failedInRing());
    // Nothing waits any more.
    const auto insertions = inserted.size();
    model.flush();
    QCOMPARE(inserted.size(), insertions);
}

QTEST_MAIN(tst_CallsDock)
#include "tst_callsdock.moc"
