#pragma once

// The wave input service as a table of operations, with two bindings: ALSA capture, and a
// synthetic back end (tone, silence, WAV files in a loop) paced in real time for tests, demos and
// machines without a sound card. The environment variable ZOVEVA_WAVEIN chooses the binding that
// DefaultWaveIn() returns (see README).
//
// A device returns every queued buffer through the callback given at open, from a thread of the
// binding; the callback also reports open and close (synchronously, from the opening or closing
// call) and a device that failed while capturing.

#include "platform/SoundServer.h"
#include "platform/WaveTypes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zv {

using WaveInHandle = std::uintptr_t; // 0: none

enum class WaveInNotification {
    OpenDone, // Param1, Param2: 0
    CloseDone, // Param1, Param2: 0
    Data, // Param1: the returned TWaveHdr*, marked done
    Failed, // Param1: the error code (as intptr_t); the device stopped and stays stopped
};

// Called on the binding's thread for Data and Failed; must not block and must not call back
// into the device.
using WaveInCallback = void (*)(WaveInHandle Handle, WaveInNotification Message, void* Instance,
    std::uintptr_t Param1, std::uintptr_t Param2);

class WaveInOps {
public:
    virtual ~WaveInOps() = default;

    enum OpenFlags : unsigned { FormatQuery = 0x1 }; // only ask whether the format can be recorded

    virtual const char* Name() const = 0;
    // Every operation below returns 0 or an error code (wave::ErrorCode, or the back end's own).
    virtual int GetNumDevs() = 0; // the count itself
    virtual int GetDevCaps(int DeviceId, TWaveInCaps& Caps) = 0; // -1: the default device
    // The same without the formats (dwFormats and wChannels 0): what naming a device needs. A
    // binding may have to open a device to learn its formats, and a list of names must not open
    // every device (nor start a sound server for each).
    virtual int GetDevCapsWithoutFormats(int DeviceId, TWaveInCaps& Caps)
    {
        const int e = GetDevCaps(DeviceId, Caps);
        Caps.dwFormats = 0;
        Caps.wChannels = 0;
        return e;
    }
    // 0 and the text, or non-zero when the code has no text.
    virtual int GetErrorText(int Code, char* Text, std::size_t Size) = 0;
    virtual int Open(WaveInHandle* Handle, int DeviceId, const TWaveFormatEx& Format, WaveInCallback Callback,
        void* Instance, unsigned Flags)
        = 0;
    virtual int Close(WaveInHandle Handle) = 0; // fails while buffers are queued
    virtual int PrepareHeader(WaveInHandle Handle, TWaveHdr* Header) = 0;
    virtual int UnprepareHeader(WaveInHandle Handle, TWaveHdr* Header) = 0;
    virtual int AddBuffer(WaveInHandle Handle, TWaveHdr* Header) = 0; // refuses a header already queued
    virtual int Start(WaveInHandle Handle) = 0;
    // Stops recording; a partly filled buffer is returned, empty ones stay queued.
    virtual int Stop(WaveInHandle Handle) = 0;
    // Stops and returns every queued buffer; the position starts again at 0.
    virtual int Reset(WaveInHandle Handle) = 0;
    virtual int GetPosition(WaveInHandle Handle, TMMTime& Time) = 0;
    virtual int GetID(WaveInHandle Handle, int* DeviceId) = 0;
    // Whether a sound server stands between this binding and its devices: then the capture takes the
    // default device and the cards' own mixers are the server's, not ours to set.
    virtual bool SoundServerOwnsDevices() { return zv::SoundServerOwnsDevices(); }
    // Whether the sound server this binding's default device goes through has left its traces but
    // does not answer now (stopped, restarting): that device is missing until it returns.
    virtual bool SoundServerAway() { return zv::SoundServerAway(); }
    // The device's name whole, for lists, messages and encoding files (the capabilities' name is cut
    // to 31 bytes); empty for an id that names no device.
    virtual std::string FullName(int DeviceId)
    {
        TWaveInCaps caps {};
        if (GetDevCapsWithoutFormats(DeviceId, caps) != 0) {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                {
                                                    {
                                                        {
                                                            {
                                                                {
                                                                    return {};
                                                                }
                                                            }
                                                        }
                                                    }
                                                }
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
        caps.szPname[sizeof caps.szPname - 1] = 0;
        return caps.szPname;
    }
    // The id of the device a name chooses, or -1 for none. The whole name first; then the name cut
    // to 31 bytes, which settings written when only cut names were shown hold (the first device
    // whose cut name it is).
    virtual int DeviceIdOf(const std::string& Name)
    {
        const int count = GetNumDevs();
        for (int id = 0; id < count; ++id) {
            {
                {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                {
                                                    {
                                                        {
                                                            {
                                                                {
                                                                    if (FullName(id) == Name) {
                                                                        {
                                                                            {
                                                                                {
                                                                                    {
                                                                                        {
                                                                                            {
                                                                                                {
                                                                                                    {
                                                                                                        {
                                                                                                            {
                                                                                                                {
                                                                                                                    {
                                                                                                                        {
                                                                                                                            {
                                                                                                                                return id;
                                                                                                                            }
                                                                                                                        }
                                                                                                                    }
                                                                                                                }
                                                                                                            }
                                                                                                        }
                                                                                                    }
                                                                                                }
                                                                                            }
                                                                                        }
                                                                                    }
                                                                                }
                                                                            }
                                                                        }
                                                                    }
                                                                }
                                                            }
                                                        }
                                                    }
                                                }
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
        for (int id = 0; id < count; ++id) {
            TWaveInCaps caps {};
            if (GetDevCapsWithoutFormats(id, caps) == 0) {
                caps.szPname[sizeof caps.szPname - 1] = 0;
                if (Name == caps.szPname) {
                    {
                        {
                            {
                                {
                                    {
                                        {
                                            {
                                                {
                                                    {
                                                        {
                                                            {
                                                                {
                                                                    {
                                                                        {
                                                                            return id;
                                                                        }
                                                                    }
                                                                }
                                                            }
                                                        }
                                                    }
                                                }
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
        return -1;
    }
};

// ---- ALSA ------------------------------------------------------------------------------------
// Capture-capable PCMs from the device hints; the description's first line is the product name.
// "default" comes first, then the cards' PCMs, then the converter, routing and sound-server
// plug-ins (by the type of their definition). The mapper id -1 opens "default". Listing and naming
// read the hints only; a device is opened when its formats are asked for (GetDevCaps), queried or
// opened.
WaveInOps& AlsaWaveIn();

// ---- synthetic -------------------------------------------------------------------------------
struct SyntheticDevice {
    enum Kind { Tone, Silence, WavFile };
    Kind kind = Tone;
    std::string name; // product name: whole for FullName, cut to 31 bytes in the capabilities
    std::string path; // WavFile: the file, played in a loop
    std::int64_t failAfterFrames = -1; // >= 0: fails as an unplugged card does after these frames
    bool paced = true; // false: buffers return as fast as they are queued
};

// Tone: 1000 Hz sine, left channel at half scale, right channel at quarter scale (mono: left).
inline constexpr double SyntheticToneHz = 1000.0;

// The tone's samples at `rate` from phase 0: interleaved left and right 16-bit frames, the fewest that
// make whole turns (48 at 48000 Hz, 441 at 44100 Hz), so that repeating them goes on exactly.
std::vector<std::int16_t> SyntheticToneFrames(std::uint32_t Rate);

// The devices of ZOVEVA_WAVEIN=synthetic: "Synthetic tone 1 kHz", "Synthetic silence", then one
// "WAV <file name>" per path in ZOVEVA_WAVEIN_WAV (paths separated by ':').
std::vector<SyntheticDevice> SyntheticDevicesFromEnvironment();
std::unique_ptr<WaveInOps> MakeSyntheticWaveIn(std::vector<SyntheticDevice> Devices);

// ZOVEVA_WAVEIN unset, empty or "alsa": ALSA; "synthetic": the synthetic devices above.
WaveInOps& DefaultWaveIn();

} // namespace zv
