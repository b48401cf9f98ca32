// The window's calls: a page's Send, CallGetter and a call sent again from
// the Calls dock, each with its log line and status.
#include "mainwindow.h"

#include "commandpage.h"
#include "devicerun.h"
#include "devicesession.h"
#include "iopanel.h"
#include "recording.h"
#include "records.h"
#include "statusline.h"

#include <cstring>

void MainWindow::noteResult(
    const zem::Command &c, std::int32_t result, const unsigned char *request)
{
    AddLog(tr("%1 returned %2")
               .arg(QLatin1String(c.operation),
                   QString::fromStdString(zem::calls::logResultName(result))),
        levelOf(result));
    statusText->noteResult(c, result, request);
    updateStatus();
}

void MainWindow::send(const char *command)
{
    const int i = commandIndex(command);
    const zem::Command &c = zem::kCommands[i];
    iopanel &page = *pageAt(i);
    alignas(8) unsigned char request[zem::kMaxRecordSize] = {};
    packRequest(c, page, request);
    const std::int32_t result = runCommandWith(c, request, page, session->connection());
    noteResult(c, result, request);
}

void MainWindow::callGetter(const char *setter)
{
    const int s = commandIndex(setter);
    const char *getter = zem::kCommands[s].getter;
    {
        const zem::calls::OriginScope origin(zem::calls::Origin::Getter);
        send(getter);
    }
    // The copy goes through the shown texts, so it also happens after a
    // failed call and then carries the older values.
    copyResponsesToRequests(*pageAt(commandIndex(getter)), *pageAt(s));
}

void MainWindow::get_measurementPressSlot(bool)
{
    send("get_measurement");
}
void MainWindow::get_identity_informationPressSlot(bool)
{
    send("get_identity_information");
}
void MainWindow::start_autocalibrationPressSlot(bool)
{
    send("start_autocalibration");
}
void MainWindow::get_statusPressSlot(bool)
{
    send("get_status");
}
void MainWindow::get_measurement_settingsPressSlot(bool)
{
    send("get_measurement_settings");
}
void MainWindow::set_measurement_settingsPressSlot(bool)
{
    send("set_measurement_settings");
}
void MainWindow::set_measurement_settingsCallGetterPressSlot(bool)
{
    callGetter("set_measurement_settings");
}
void MainWindow::start_measurementPressSlot(bool)
{
    send("start_measurement");
}
void MainWindow::check_measurement_statusPressSlot(bool)
{
    send("check_measurement_status");
}
void MainWindow::get_calibration_settingsPressSlot(bool)
{
    send("get_calibration_settings");
}
void MainWindow::set_calibration_settingsPressSlot(bool)
{
    send("set_calibration_settings");
}
void MainWindow::set_calibration_settingsCallGetterPressSlot(bool)
{
    callGetter("set_calibration_settings");
}
void MainWindow::get_measurement_rawPressSlot(bool)
{
    send("get_measurement_raw");
}
void MainWindow::reset_eventsPressSlot(bool)
{
    send("reset_events");
}

void MainWindow::sendAgain(int command, const QByteArray &request)
{
    if (command < 0 || command >= int(zem::kCommandCount))
        return;
    const zem::Command &c = zem::kCommands[command];
    if (c.request && request.size() != c.request->size)
        return;
    // The call is made on the device thread; the page shows its answer and
    // the log takes its line once it is back.
    struct Replay
    {
        alignas(8) unsigned char request[zem::kMaxRecordSize] = {};
        alignas(8) unsigned char response[zem::kMaxRecordSize] = {};
        std::int32_t result = 0;
        bool made = false;
    };
    auto replay = std::make_shared<Replay>();
    if (c.request)
        std::memcpy(replay->request, request.constData(), c.request->size);
    zem::Connection *device = &session->connection();
    auto *run = new DeviceRun(
        *session, zem::calls::Origin::Replay,
        [replay, device, &c](
            DeviceRun::Clock::time_point) -> std::optional<DeviceRun::Clock::time_point> {
            replay->result = device->call(
                c, c.request ? replay->request : nullptr, c.response ? replay->response : nullptr);
            replay->made = true;
            return std::nullopt;
        },
        [] {}, this);
    connect(run, &DeviceRun::finished, this, [this, run, replay, &c, command] {
        run->deleteLater();
        if (!replay->made)
            return;
        showResponse(c, replay->result, replay->response, *pageAt(command));
        noteResult(c, replay->result, replay->request);
    });
    run->start();
}

