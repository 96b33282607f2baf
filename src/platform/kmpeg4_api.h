// The C functions of the vendor streaming library (libKMpeg4.so), as the
// driver calls them and as a stand-in library built for tests exports them.
// Plain C types only: both sides compile against this one declaration.
#pragma once

#include <stdint.h>

extern "C" {

typedef void* KHandle;
// (context, data type, data, length) on the library's own thread; data type 2
// is not video.
typedef void (*KRawDataCallback)(void* context, uint32_t dataType, const uint8_t* data, uint32_t length);

// Size of the connection record passed to KSetMediaConfig and of the buffers
// of KGetPortInfoByHTTP and KGetAudioToken.
enum { kKMediaConfigSize = 468, kKPortInfoSize = 32, kKAudioTokenSize = 128 };

typedef KHandle (*KOpenInterfaceFn)(void);
typedef int (*KGetPortInfoByHTTPFn)(KHandle, uint8_t* result, const char* address, uint32_t httpPort, const char* user,
                                    const char* password, uint32_t input);
typedef int32_t (*KGetTCPTypeByHTTPFn)(KHandle, const char* address, uint32_t httpPort, const char* user,
                                       const char* password, uint32_t reserved);
typedef void (*KSetTCPTypeFn)(KHandle, int32_t type);
typedef int (*KSetMediaConfigFn)(KHandle, const uint8_t* record);
typedef void (*KSetRawDataCallbackFn)(KHandle, void* context, KRawDataCallback callback);
typedef int (*KHandleCallFn)(KHandle);     // KConnect, KStartStreaming
typedef void (*KHandleActionFn)(KHandle);  // KStop, KStopStreaming, KDisconnect, KCloseInterface
typedef int (*KGetAudioTokenFn)(KHandle, uint8_t* token);
typedef int (*KSendAudioFn)(KHandle, const uint8_t* data, uint32_t length);
typedef void (*KFreeAudioTokenFn)(KHandle, uint8_t* token);

}  // extern "C"
