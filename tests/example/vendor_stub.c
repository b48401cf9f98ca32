/* A stand-in for a vendor's libzem.so: same interface, its own identity, every
 * command succeeds at once. Proves that the library is chosen at load time. */
#include "zem.h"

#include <string.h>

#define OK_ON_HANDLE(name, ...)                                                                    \
    int32_t name(int32_t handle, __VA_ARGS__)                                                      \
    {                                                                                              \
        (void)handle;                                                                              \
        return 0;                                                                                  \
    }

int32_t zem_open_device(const char *url)
{
    (void)url;
    return 7;
}

int32_t zem_close_device(int32_t *handle)
{
    *handle = -1;
    return 0;
}

int32_t zem_get_identity_information(int32_t handle, get_identity_information_response *r)
{
    (void)handle;
    memset(r, 0, sizeof *r);
    memcpy(r->Manufacturer, "Stub", 5);
    memcpy(r->ProductName, "vendor", 7);
    return 0;
}

int32_t zem_check_measurement_status(int32_t handle, check_measurement_status_response *r)
{
    (void)handle;
    memset(r, 0, sizeof *r);
    r->ReadyStatus = MEASUREMENT_COMPLETE;
    return 0;
}

int32_t zem_start_measurement(int32_t handle)
{
    (void)handle;
    return 0;
}

OK_ON_HANDLE(zem_get_measurement, const get_measurement_request *rq, get_measurement_response *rs)
OK_ON_HANDLE(zem_start_autocalibration, start_autocalibration_response *rs)
OK_ON_HANDLE(zem_get_status, get_status_response *rs)
OK_ON_HANDLE(zem_get_measurement_settings, measurement_settings *rs)
OK_ON_HANDLE(zem_set_measurement_settings, const measurement_settings *rq)
OK_ON_HANDLE(zem_get_calibration_settings, calibration_settings *rs)
OK_ON_HANDLE(zem_set_calibration_settings, const calibration_settings *rq)
OK_ON_HANDLE(zem_get_measurement_raw, const get_measurement_raw_request *rq,
    get_measurement_raw_response *rs)
OK_ON_HANDLE(zem_reset_events, const reset_events_request *rq, reset_events_response *rs)
OK_ON_HANDLE(zem_get_profile, char **text, void *(*alloc)(size_t))
OK_ON_HANDLE(zem_set_profile, const char *text)
OK_ON_HANDLE(zem_get_device_rank, device_rank *rs)
