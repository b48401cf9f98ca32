/*
 * The zem library's C interface: one synchronous call per device command.
 *
 * Records are exchanged by pointer and have fixed byte layouts without padding
 * (multi-byte values in host byte order). Every operation but open returns a
 * result code; open returns a device handle or -1.
 */
#ifndef ZEM_H
#define ZEM_H

#include <stddef.h>
#include <stdint.h>

#if defined(ZEM_BUILDING_LIBRARY)
#define ZEM_API __attribute__((visibility("default")))
#else
#define ZEM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes */
#define ZEM_RESULT_OK 0
#define ZEM_DEVICE_UNDEFINED (-1)
#define ZEM_RESULT_NOT_IMPLEMENTED (-2)
#define ZEM_RESULT_VALUE_ERROR (-3)
#define ZEM_RESULT_NODEVICE (-4)
#define ZEM_RESULT_TIMEOUT (-5)

/* Named constants and flags, each belonging to one field */
#define FRAME_SIZE 25
#define CALIBRATION_OK 0
#define STATUS_OK 0
#define IOSTATE_GEN_PROBE_BUTTON_PRESSED 0x01
#define IOSTATE_RECV_PROBE_BUTTON_PRESSED 0x02
#define IOEVENTS_GEN_PROBE_BUTTON_PRESSED 0x01
#define IOEVENTS_GEN_PROBE_BUTTON_RELEASED 0x02
#define IOEVENTS_RECV_PROBE_BUTTON_PRESSED 0x04
#define IOEVENTS_RECV_PROBE_BUTTON_RELEASED 0x08
#define MIN_NUMBER_POINTS 10
#define MAX_NUMBER_POINTS 1000
#define CURRENT_SENSE_MODE_ISOLATED 0
#define CURRENT_SENSE_MODE_I_LOW 1
#define CURRENT_SENSE_MODE_I_MID 2
#define CURRENT_SENSE_MODE_I_HIGH 3
#define OUT_MODE_PROBE_SIGNAL_CONTINUOUS 0
#define OUT_MODE_GROUNDED_CONTINUOUS 1
#define OUT_MODE_PROBE_SIGNAL_WITH_GROUNDING 2
#define MEASUREMENT_NOT_COMPLETE 0
#define MEASUREMENT_COMPLETE 1
#define IOEVENTSRST_GEN_PROBE_BUTTON_PRESSED 0x01
#define IOEVENTSRST_GEN_PROBE_BUTTON_RELEASED 0x02
#define IOEVENTSRST_RECV_PROBE_BUTTON_PRESSED 0x04
#define IOEVENTSRST_RECV_PROBE_BUTTON_RELEASED 0x08

#pragma pack(push, 1)

typedef struct get_measurement_request
{
    uint16_t FrameNumber;
} get_measurement_request;

typedef struct get_measurement_response
{
    float Voltage[FRAME_SIZE]; /* V */
    float Current[FRAME_SIZE]; /* mA */
} get_measurement_response;

typedef struct get_identity_information_response
{
    uint8_t Manufacturer[16];
    uint8_t ProductName[16];
    uint8_t ControllerName[16];
    uint8_t HardwareMajor;
    uint8_t HardwareMinor;
    uint16_t HardwareBugfix;
    uint8_t BootloaderMajor;
    uint8_t BootloaderMinor;
    uint16_t BootloaderBugfix;
    uint8_t FirmwareMajor;
    uint8_t FirmwareMinor;
    uint16_t FirmwareBugfix;
    uint32_t SerialNumber;
    uint8_t Reserved[8];
} get_identity_information_response;

typedef struct start_autocalibration_response
{
    uint8_t Result;
} start_autocalibration_response;

typedef struct get_status_response
{
    uint32_t Status;
    int16_t Temperature;
    uint8_t Reserved0[2];
    uint16_t IOState;
    uint16_t IOEvents;
    uint8_t Reserved1[42];
} get_status_response;

typedef struct measurement_settings
{
    float SamplingRate;
    float ProbeSignalFrequency;
    uint32_t NumberPoints;
    uint32_t NumberChargePoints;
    float MaxVoltage;
    uint8_t Reserved0[4];
    uint32_t CurrentSensorMode;
    uint8_t OutputMode;
    uint8_t Reserved1[19];
} measurement_settings;

typedef struct check_measurement_status_response
{
    uint8_t ReadyStatus;
    uint8_t Reserved[15];
} check_measurement_status_response;

typedef struct calibration_settings
{
    uint8_t Reserved0[8];
    float ADCMult;
    float ADCVOffset;
    float CurrentSense1Mult;
    float CurrentSense1Offset;
    float CurrentSense2Mult;
    float CurrentSense2Offset;
    float CurrentSense3Mult;
    float CurrentSense3Offset;
    uint8_t Reserved1[72];
} calibration_settings;

typedef struct get_measurement_raw_request
{
    uint16_t Frame;
} get_measurement_raw_request;

typedef struct get_measurement_raw_response
{
    uint16_t ADCHighCode[FRAME_SIZE];
    uint16_t ADCLowCode[FRAME_SIZE];
} get_measurement_raw_response;

typedef struct reset_events_request
{
    uint16_t IOEventsRst;
    uint8_t Reserved0[30];
} reset_events_request;

typedef struct reset_events_response
{
    uint8_t Reserved0[16];
} reset_events_response;

typedef struct device_rank
{
    int32_t Rank;
    uint8_t Reserved[128];
} device_rank;

#pragma pack(pop)

/* Returns a handle, or -1 when the device cannot be opened. */
ZEM_API int32_t zem_open_device(const char *url);
/* Closes the device and sets *handle to -1; harmless on -1 or an unknown handle. */
ZEM_API int32_t zem_close_device(int32_t *handle);

ZEM_API int32_t zem_get_measurement(
    int32_t handle, const get_measurement_request *request, get_measurement_response *response);
ZEM_API int32_t zem_get_identity_information(
    int32_t handle, get_identity_information_response *response);
ZEM_API int32_t zem_start_autocalibration(int32_t handle, start_autocalibration_response *response);
ZEM_API int32_t zem_get_status(int32_t handle, get_status_response *response);
ZEM_API int32_t zem_get_measurement_settings(int32_t handle, measurement_settings *response);
ZEM_API int32_t zem_set_measurement_settings(int32_t handle, const measurement_settings *request);
ZEM_API int32_t zem_start_measurement(int32_t handle);
ZEM_API int32_t zem_check_measurement_status(
    int32_t handle, check_measurement_status_response *response);
ZEM_API int32_t zem_get_calibration_settings(int32_t handle, calibration_settings *response);
ZEM_API int32_t zem_set_calibration_settings(int32_t handle, const calibration_settings *request);
ZEM_API int32_t zem_get_measurement_raw(int32_t handle, const get_measurement_raw_request *request,
    get_measurement_raw_response *response);
ZEM_API int32_t zem_reset_events(
    int32_t handle, const reset_events_request *request, reset_events_response *response);
/* Stores a zero-terminated text allocated with alloc in *text; the caller frees it. */
ZEM_API int32_t zem_get_profile(int32_t handle, char **text, void *(*alloc)(size_t));
ZEM_API int32_t zem_set_profile(int32_t handle, const char *text);
ZEM_API int32_t zem_get_device_rank(int32_t handle, device_rank *response);

/* Optional: only our library, which drives the virtual instrument, has it; a
   vendor's library need not. Why the calling thread's last zem_open_device
   returned -1 ("unknown option 'nois'", "bad value for 'noise'", ...), or ""
   when it returned a handle. Valid until the thread's next open. A program
   that must also run with a vendor's library looks it up instead of calling
   it: dlsym(RTLD_DEFAULT, "zem_virtual_open_error"). */
ZEM_API const char *zem_virtual_open_error(void);

/* Optional, like zem_virtual_open_error: only our library has it; look it up
   with dlsym(RTLD_DEFAULT, "zem_virtual_probe_pin"). Puts the virtual probe
   on the pin at 0-based position `pin` of the URL's pins= (pin % their
   number; any pin >= 0 is the one load without pins=). It stays there until
   the next call, whatever the probe button or per_pin= would do. Returns
   ZEM_RESULT_OK, ZEM_RESULT_VALUE_ERROR for a negative pin, and
   ZEM_DEVICE_UNDEFINED for an unknown handle. */
ZEM_API int32_t zem_virtual_probe_pin(int32_t handle, int32_t pin);

/* Optional, like zem_virtual_open_error: only our library has it. For tests
   that must not wait for the virtual instrument: takes the device's clock off
   real time. From the first call on the clock stands still, and each call
   moves it on by `ms` milliseconds (0 only stops it). Measurements complete,
   and the probe button of button_period_ms= is pressed and released, on this
   clock; without a call, on real time. Returns ZEM_RESULT_OK,
   ZEM_RESULT_VALUE_ERROR for a negative ms, and ZEM_DEVICE_UNDEFINED for an
   unknown handle. */
ZEM_API int32_t zem_virtual_advance_clock(int32_t handle, int32_t ms);

#ifdef __cplusplus
}
#endif

#endif /* ZEM_H */
