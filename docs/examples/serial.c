/* Prints the serial number of the virtual instrument. Build it with:
 *   cc serial.c $(pkg-config --cflags --libs zem-virtual) -o serial */
#include <stdio.h>
#include <zem.h>

int main(void)
{
    int32_t device = zem_open_device("virtual://diode");
    get_identity_information_response identity = { 0 };
    int ok = device != -1 && zem_get_identity_information(device, &identity) == ZEM_RESULT_OK;
    if (ok)
        printf("Serial number: %u\n", (unsigned)identity.SerialNumber);
    zem_close_device(&device);
    return ok ? 0 : 1;
}
