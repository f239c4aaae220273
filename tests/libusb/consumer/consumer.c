/* Loads libzorek through the installed header and library, checks the
 * interface version and asks for device 0, whatever the machine has. */
#include <stdio.h>
#include <zorek.h>

int main(void) {
    int32_t version = GetInterfaceVersion();
    if (version != ZOREK_INTERFACE_VERSION) {
        fprintf(stderr, "consumer: interface version %d, expected %d\n", (int)version, ZOREK_INTERFACE_VERSION);
        return 1;
    }
    int32_t status = -1, id = -1;
    int32_t result = GetDeviceID(0, &status, &id);
    if (status < ZOREK_STATUS_OK || status > ZOREK_STATUS_OPEN_PARAM || (result != 0 && result != 1)) {
        fprintf(stderr, "consumer: GetDeviceID gave result %d with status %d\n", (int)result, (int)status);
        return 1;
    }
    printf("consumer: interface version %d; device 0: result %d, status %d\n", (int)version, (int)result,
           (int)status);
    return 0;
}
