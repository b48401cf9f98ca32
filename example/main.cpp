// Walks once through a complete measurement: opens the instrument by the URL typed by the user,
// prints its identity, calibrates it, measures one curve of 100 points, closes it and saves the
// curve to results.json.

#include "zem.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kNumberPoints = 100;
constexpr float kSamplingRate = 10000.0f;
constexpr int kFrames = kNumberPoints / FRAME_SIZE;
static_assert(kNumberPoints % FRAME_SIZE == 0, "the points are read in whole frames");

constexpr size_t kUrlSize = 64;
constexpr const char *kResultsFile = "results.json";

// The step's text stays visible while the library call behind it blocks.
void beginStep(const char *text)
{
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void reportFailure(int32_t result, int32_t device, int line)
{
    std::printf("\n");
    switch (result) {
    case ZEM_DEVICE_UNDEFINED:
        std::printf("Runtime error in %s:%d\n", __FILE__, line);
        break;
    case ZEM_RESULT_NOT_IMPLEMENTED:
        std::printf("Command not implemented error in %s:%d\n", __FILE__, line);
        break;
    case ZEM_RESULT_VALUE_ERROR:
        std::printf("Value error in %s:%d\n", __FILE__, line);
        break;
    case ZEM_RESULT_NODEVICE:
        std::printf("No device (connection loss) error in %s:%d\n", __FILE__, line);
        break;
    default:
        break;
    }
    // Only this step's copy is closed: the caller keeps its handle, so the following steps
    // still run and report whatever the library answers.
    zem_close_device(&device);
}

// Call as succeeded(zem_...(...), device, __LINE__) on one line, so that the reported line is
// the one of the call.
bool succeeded(int32_t result, int32_t device, int line)
{
    if (result == ZEM_RESULT_OK)
        return true;
    reportFailure(result, device, line);
    return false;
}

bool readIdentity(int32_t device)
{
    beginStep("Read device information... ");
    get_identity_information_response identity {};
    if (!succeeded(zem_get_identity_information(device, &identity), device, __LINE__))
        return false;
    device_rank rank {};
    if (!succeeded(zem_get_device_rank(device, &rank), device, __LINE__))
        return false;

    std::printf("Done\n");
    std::printf("  -- Device information --\n");
    // The names are not always zero-terminated within their 16 bytes.
    std::printf("  Product: %.16s %.16s\n", reinterpret_cast<const char *>(identity.Manufacturer),
        reinterpret_cast<const char *>(identity.ProductName));
    std::printf("  Hardware version: %d.%d.%d\n", identity.HardwareMajor, identity.HardwareMinor,
        identity.HardwareBugfix);
    std::printf("  Serial number: %" PRIu32 "\n", identity.SerialNumber);
    std::printf("  Device rank: %" PRId32 "\n", rank.Rank);
    std::printf("  Firmware version: %d.%d.%d\n", identity.FirmwareMajor, identity.FirmwareMinor,
        identity.FirmwareBugfix);
    return true;
}

// A calibration that reports errors is only shown; the measurement is still worth making.
bool calibrate(int32_t device)
{
    beginStep("Run device automatic calibration... ");
    start_autocalibration_response calibration {};
    if (!succeeded(zem_start_autocalibration(device, &calibration), device, __LINE__))
        return false;
    std::printf("Done\n");
    if (calibration.Result == CALIBRATION_OK)
        std::printf("  Device calibrated successfully\n");
    else
        std::printf("  There were some errors during calibration\n");
    return true;
}

bool setUp(int32_t device)
{
    beginStep("Setup device... ");
    measurement_settings settings {};
    settings.SamplingRate = kSamplingRate;
    settings.ProbeSignalFrequency = 100.0f;
    settings.NumberPoints = kNumberPoints;
    settings.NumberChargePoints = 0;
    settings.MaxVoltage = 12.0f;
    settings.CurrentSensorMode = CURRENT_SENSE_MODE_I_MID;
    settings.OutputMode = OUT_MODE_PROBE_SIGNAL_CONTINUOUS;
    if (!succeeded(zem_set_measurement_settings(device, &settings), device, __LINE__))
        return false;
    std::printf("Done\n");
    return true;
}

// Points of frames that could not be read keep the values they had before. A measurement
// that does not complete in time sets timedOut: it read no points at all.
bool measure(int32_t device, float *voltage, float *current, bool &timedOut)
{
    beginStep("Make measuremnet... ");
    if (!succeeded(zem_start_measurement(device), device, __LINE__))
        return false;

    // The Curve dock's time-out: three times what the settings take, plus a second.
    using namespace std::chrono;
    const auto expected = duration<double>(kNumberPoints / double(kSamplingRate));
    const auto deadline = steady_clock::now() + duration_cast<milliseconds>(3 * expected) + 1s;
    check_measurement_status_response status {};
    do {
        if (steady_clock::now() >= deadline) {
            timedOut = true;
            std::printf("\nTimeout error in %s:%d\n", __FILE__, __LINE__);
            zem_close_device(&device);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!succeeded(zem_check_measurement_status(device, &status), device, __LINE__))
            return false;
    } while (status.ReadyStatus != MEASUREMENT_COMPLETE);

    for (int frame = 0; frame < kFrames; ++frame) {
        get_measurement_request request {};
        request.FrameNumber = static_cast<uint16_t>(frame);
        get_measurement_response response {};
        if (!succeeded(zem_get_measurement(device, &request, &response), device, __LINE__))
            return false;
        for (int i = 0; i < FRAME_SIZE; ++i) {
            voltage[frame * FRAME_SIZE + i] = response.Voltage[i];
            current[frame * FRAME_SIZE + i] = response.Current[i];
        }
    }
    std::printf("Done\n");
    return true;
}

bool closeDevice(int32_t device)
{
    beginStep("Close device... ");
    // The library resets the variable it is given; the report must close the same handle again.
    int32_t handle = device;
    if (!succeeded(zem_close_device(&handle), device, __LINE__))
        return false;
    std::printf("Done\n");
    return true;
}

bool writeArray(FILE *file, const char *name, const float *values)
{
    if (std::fprintf(file, "    \"%s\": [", name) < 0)
        return false;
    for (int i = 0; i < kNumberPoints; ++i) {
        if (std::fprintf(file, i == 0 ? "%f" : ", %f", values[i]) < 0)
            return false;
    }
    return std::fputs("],\n", file) >= 0;
}

bool writeResults(FILE *file, const float *voltage, const float *current)
{
    return std::fputs("{\n", file) >= 0 && writeArray(file, "voltage", voltage)
        && writeArray(file, "current", current)
        && std::fputs("    \"voltage_units\": \"Volts\",\n", file) >= 0
        && std::fputs("    \"current_units\": \"mA\"\n", file) >= 0 && std::fputs("}\n", file) >= 0;
}

// Writes a temporary file next to results.json and renames it over the old one, so that a
// failed save never leaves a truncated file behind, nor destroys the results of an earlier run.
bool saveResults(const float *voltage, const float *current)
{
    beginStep("Save measurement results to file results.json... ");
    char temporary[] = "results.json.XXXXXX";
    int error = 0;
    const int fd = mkstemp(temporary);
    if (fd == -1) {
        error = errno;
    } else {
        // mkstemp creates the file private to the user; give it the permissions that a
        // plainly created file would have.
        const mode_t mask = umask(0);
        umask(mask);
        FILE *file = fchmod(fd, 0666 & ~mask) == 0 ? fdopen(fd, "w") : nullptr;
        if (!file) {
            error = errno;
            close(fd);
        } else {
            errno = 0;
            if (!writeResults(file, voltage, current) || std::fflush(file) != 0
                || fsync(fileno(file)) != 0)
                error = errno ? errno : EIO;
            if (std::fclose(file) != 0 && error == 0)
                error = errno;
            if (error == 0 && std::rename(temporary, kResultsFile) != 0)
                error = errno;
        }
        if (error != 0)
            unlink(temporary);
    }
    if (error != 0) {
        std::printf("\nCannot write %s: %s\n", kResultsFile, std::strerror(error));
        return false;
    }
    std::printf("Done\n");
    return true;
}

enum class UrlInput { Read, Missing, TooLong };

// Reads one word: leading white space is skipped, the word ends at the next white space.
UrlInput readUrl(char (&url)[kUrlSize])
{
    int c;
    do {
        c = std::getchar();
    } while (c != EOF && std::isspace(c));
    if (c == EOF)
        return UrlInput::Missing;

    size_t length = 0;
    while (c != EOF && !std::isspace(c)) {
        // A cut URL could open a different device than the one typed, so it is refused.
        if (length == kUrlSize - 1)
            return UrlInput::TooLong;
        url[length++] = static_cast<char>(c);
        c = std::getchar();
    }
    url[length] = '\0';
    return UrlInput::Read;
}

void printOpenFailure()
{
    std::printf("Cannot open device.\n");
    std::printf("Please check serial port URL and try again.\n");
}

// Runs every step once, whatever happened in the steps before; true only when all succeeded.
bool run(const char *url)
{
    const int32_t device = zem_open_device(url);
    if (device == -1) {
        printOpenFailure();
        return false;
    }
    float voltage[kNumberPoints] = {};
    float current[kNumberPoints] = {};
    bool ok = readIdentity(device);
    ok = calibrate(device) && ok;
    ok = setUp(device) && ok;
    bool timedOut = false;
    ok = measure(device, voltage, current, timedOut) && ok;
    ok = closeDevice(device) && ok;
    // A measurement that never completed has no points to save, and the results of an
    // earlier run stay.
    if (!timedOut)
        ok = saveResults(voltage, current) && ok;
    return ok;
}

// On a terminal waits for one key, read at once and not echoed. Scripts that feed a pipe or a
// file are never kept waiting.
void waitForKey()
{
    termios saved {};
    bool raw = false;
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios settings = saved;
        // Without ISIG, Ctrl-C is a key like any other and the terminal is always restored.
        settings.c_lflag &= ~(ICANON | ECHO | ISIG);
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        // Switching before the prompt drops keys typed ahead, and a key pressed once the
        // prompt is shown is never lost.
        raw = tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings) == 0;
    }
    std::printf("Press any key to exit... \n");
    std::fflush(stdout);
    if (!raw)
        return;
    char key;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) { }
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

constexpr const char *kHelp
    = "Usage: zem_example [OPTION]\n"
      "Runs one complete measurement on a ZEM instrument: asks for the instrument's URL on\n"
      "standard input, prints its identity, calibrates it, measures one curve of 100 points,\n"
      "closes it and saves the curve to results.json in the current directory.\n"
      "\n"
      "  -h, --help     display this help and exit\n"
      "  -v, --version  display version information and exit\n"
      "\n"
      "The URL is one line of at most 63 characters, e.g. com:///dev/ttyACM0 for a serial\n"
      "instrument or virtual://diode for the virtual one. A failed step is reported with\n"
      "the line of its call and the run goes on. On a terminal the program waits for a key\n"
      "before it exits.\n"
      "\n"
      "Exit status:\n"
      "  0  every step succeeded\n"
      "  1  the device could not be opened, or a step failed\n"
      "  2  the command line was wrong\n"
      "\n"
      "Example:\n"
      "  echo virtual://diode | zem_example\n";

// The program's only options; they are answered before the dialogue starts.
int answerOption(int argc, char *argv[])
{
    const char *option = argv[1];
    const bool help = std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0;
    const bool version = std::strcmp(option, "--version") == 0 || std::strcmp(option, "-v") == 0;
    if (!help && !version)
        std::fprintf(stderr, "zem_example: unknown option '%s'\n", option);
    else if (argc > 2)
        std::fprintf(stderr, "zem_example: unexpected argument '%s'\n", argv[2]);
    else if (help)
        std::fputs(kHelp, stdout);
    else
        std::printf("zem_example %s\n", ZEM_VERSION);
    if ((help || version) && argc == 2)
        return EXIT_SUCCESS;
    std::fprintf(stderr, "Try 'zem_example --help' for more information.\n");
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1)
        return answerOption(argc, argv);
    std::printf("Orvane ZEM application example\n");
    std::printf("--------------------------------\n");
    std::printf("Enter serial port.\n");
    std::printf("Format for Windows: com:\\\\.\\COM29\n");
    std::printf("Format for Linux: com:///dev/ttyACM0\n");
    std::fflush(stdout);

    bool ok = false;
    char url[kUrlSize] = {};
    switch (readUrl(url)) {
    case UrlInput::Read:
        ok = run(url);
        break;
    case UrlInput::Missing:
        std::printf("No URL was entered.\n");
        printOpenFailure();
        break;
    case UrlInput::TooLong:
        std::printf("URL is too long (at most %zu characters).\n", kUrlSize - 1);
        break;
    }
    waitForKey();
    return ok ? EXIT_SUCCESS : EXIT_FAILURE;
}
