// wasapi_audio.h — private to platform/audio and its tests: the WASAPI
// backend's ear for the system's device notifications.
//
// The backend (NewWasapiAudio, backend.h) registers an IMMNotificationClient
// with the device enumerator when it opens: another default device for the
// console role, or its own device removed or disabled, marks its output lost
// (`Lost`), and the resuming choice moves the music. `WasapiNotifications`
// hands that client out so a test can call it as the system would, where the
// system sends nothing (Wine). Windows builds only.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <mmdeviceapi.h>

#include "platform/audio/backend.h"

namespace platform::audio {

// The notification client of a WASAPI backend after its Init; null for any
// other backend, or where the system took no client.
IMMNotificationClient* WasapiNotifications(ResumableAudio& backend);

}  // namespace platform::audio
