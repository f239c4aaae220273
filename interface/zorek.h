/* Host interface of the zorek instrument library.
 *
 * Every device function takes the device index USBID (0, 1, ... in the
 * platform's enumeration order) and a status-code output USBFlag, runs one
 * complete connection cycle on that device and returns 1 for success or 0 for
 * failure. Outputs other than USBFlag (and GetDeviceID's deviceID, which is
 * cleared at entry) are written only on success and keep the caller's values
 * otherwise. A null pointer for any pointer parameter makes the call return 0
 * at once without touching the device. Any function may be called from any
 * thread at any time; the library needs no initialisation. */
#ifndef ZOREK_H
#define ZOREK_H

#include <stdint.h>

/* Hosts may define ZOREK_API (for instance as __declspec(dllimport)). */
#ifndef ZOREK_API
#define ZOREK_API
#endif

/* The C calling convention: the caller removes the arguments. */
#ifndef ZOREK_CALL
#if defined(_M_IX86)
#define ZOREK_CALL __cdecl
#elif defined(__i386__)
#define ZOREK_CALL __attribute__((cdecl))
#else
#define ZOREK_CALL
#endif
#endif

#define ZOREK_INTERFACE_VERSION 258

/* Status codes written through USBFlag. */
#define ZOREK_STATUS_OK 0            /* no connection stage failed */
#define ZOREK_STATUS_NO_DEVICE 1     /* no device interface at USBID */
#define ZOREK_STATUS_ENUMERATION 2   /* the interface enumeration failed otherwise */
#define ZOREK_STATUS_ID_BUFFER 3     /* the hardware-ID list could not be allocated */
#define ZOREK_STATUS_DETAIL 4        /* the device path could not be obtained */
#define ZOREK_STATUS_INFO_REQUEST 5  /* the device-information request failed */
#define ZOREK_STATUS_PARAM_REQUEST 6 /* the device-parameter request failed */
#define ZOREK_STATUS_OPEN 7          /* the open reported an error */
#define ZOREK_STATUS_WRONG_DEVICE 8  /* foreign hardware ID, or the open failed and identification too */
#define ZOREK_STATUS_OPEN_PARAM 9    /* the open failed and the device-parameter request too */

#ifdef __cplusplus
extern "C" {
#endif

/* 258: the version of this interface. Touches no device. */
ZOREK_API int32_t ZOREK_CALL GetInterfaceVersion(void);

/* The device identifier. */
ZOREK_API int32_t ZOREK_CALL GetDeviceID(int32_t USBID, int32_t* USBFlag, int32_t* deviceID);

/* The write value with its set flag and protection state (bytes 0-255). */
ZOREK_API int32_t ZOREK_CALL GetWriteValue(int32_t USBID, int32_t* USBFlag, int32_t* value, int32_t* set,
                                           int32_t* protectState);

/* Three temperature readings, each 0-65535 as the device reports them. */
ZOREK_API int32_t ZOREK_CALL GetTemperature(int32_t USBID, int32_t* USBFlag, int32_t* tmp1, int32_t* tmp2,
                                            int32_t* tmp3);

/* The external input: 1 when set, else 0. */
ZOREK_API int32_t ZOREK_CALL GetExternalInput(int32_t USBID, int32_t* USBFlag, int32_t* input);

/* Selects a power mode; modes above 2 are refused (result 0, status 0). */
ZOREK_API int32_t ZOREK_CALL DevicePWR(int32_t USBID, int32_t* USBFlag, int32_t mode);

/* Sets the display contrast (its low byte); refused on firmware 262 and older. */
ZOREK_API int32_t ZOREK_CALL SetDisplay(int32_t USBID, int32_t* USBFlag, int32_t contrast);

/* Sends the main value; any non-zero write is sent as 1. */
ZOREK_API int32_t ZOREK_CALL SetMainValue(int32_t USBID, int32_t* USBFlag, int32_t value, int32_t write,
                                          int32_t* protectState);

#ifdef __cplusplus
}
#endif

#endif
