/* orvl sound library: the C entry points of the music player's shared library.
 *
 * The player carries this library inside its executable, writes it to a temporary file at
 * start-up and looks every entry point up by name after loading it, so the names, argument
 * lists and results below are a fixed binary interface. Everything is plain C types.
 *
 * Devices (BASS_Init's first argument):
 *   -1      the default output of the platform (SDL audio; SDL_AUDIODRIVER chooses the driver)
 *   -2      the silent device: accepts every call, decodes and advances every channel in real
 *           time, and sends the mix nowhere. It never fails to open.
 *   1..N    the N playback devices SDL lists, in its order.
 * Only one device is open at a time; BASS_Init on an open device fails until BASS_Free.
 *
 * Output format: the rate passed to BASS_Init (4000 to 96000 Hz), 16-bit signed stereo unless
 * the init flags ask for 8-bit (0x1) or mono (0x2) output. Every channel is decoded to the
 * device's rate, so channels of different source rates mix together.
 *
 * Channels: BASS_StreamCreateFile opens MP3 (MPEG 1/2/2.5 layers 1-3) and WAV (anything SDL's
 * WAV loader reads: PCM 8/16/24/32-bit, float, IMA and MS ADPCM, a-law, mu-law);
 * BASS_MusicLoad opens tracker modules (MOD, XM, IT, S3M, MO3 and whatever else libopenmpt
 * reads). Both take the whole file into memory (at most 1 GiB); a file that cannot be read
 * or decoded gives handle 0. Handles are non-zero, never reused within one BASS_Init.
 *
 * Every function is safe to call in any state: out-of-order calls (play before init, an
 * unknown handle, a second init) return 0 and change nothing. Nothing here throws or aborts.
 */
#ifndef ORVL_PLATFORM_SOUND_ORVL_SOUND_H
#define ORVL_PLATFORM_SOUND_ORVL_SOUND_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORVL_SOUND_EXPORT __attribute__((visibility("default")))

/* What BASS_GetVersion reports: version 0.8 as 0x0008'0000 (major in the high word). */
#define ORVL_SOUND_VERSION 0x80000u

/* BASS_Init flags. 0 = 16-bit stereo. */
#define ORVL_SOUND_INIT_8BITS 0x1u
#define ORVL_SOUND_INIT_MONO 0x2u

/* BASS_MusicLoad flags: 0x1 smooths volume and sample changes (ramping). */
#define ORVL_SOUND_MUSIC_RAMP 0x1u
/* BASS_StreamPlay / BASS_MusicLoad flag: start again from the beginning at the end. */
#define ORVL_SOUND_LOOP 0x4u

/* Capability flags reported by BASS_GetInfo. */
#define ORVL_SOUND_CAPS_EMULATED 0x20u  /* mixing is done in software */
#define ORVL_SOUND_CAPS_CERTIFIED 0x40u /* never set */
#define ORVL_SOUND_CAPS_MONO 0x100u
#define ORVL_SOUND_CAPS_STEREO 0x200u
#define ORVL_SOUND_CAPS_8BITS 0x400u
#define ORVL_SOUND_CAPS_16BITS 0x800u

/* Capability record; the caller sets `size` to sizeof(OrvlSoundInfo) (44) before the call. */
typedef struct OrvlSoundInfo {
  uint32_t size;
  uint32_t flags;              /* ORVL_SOUND_CAPS_* */
  uint32_t hw_memory_total;    /* bytes of device sample memory: 0, all mixing is in software */
  uint32_t hw_memory_free;
  uint32_t free_sample_slots;  /* hardware voices: 0 */
  uint32_t free_3d_slots;
  uint32_t min_rate;           /* output rates BASS_Init accepts */
  uint32_t max_rate;
  uint32_t reserved[3];
} OrvlSoundInfo;

/* Opens `device` at `rate` Hz with ORVL_SOUND_INIT_* flags. `window` is accepted and unused.
 * Non-zero on success. Output starts paused: BASS_Start lets it run. */
ORVL_SOUND_EXPORT int BASS_Init(int device, uint32_t rate, uint32_t flags, void* window);
/* Points *description at a text naming `device` (valid until the next call); non-zero when
 * such a device exists. */
ORVL_SOUND_EXPORT int BASS_GetDeviceDescription(int device, const char** description);
/* Fills `info` for the open device; 0 when no device is open or info->size is too small. */
ORVL_SOUND_EXPORT int BASS_GetInfo(OrvlSoundInfo* info);
ORVL_SOUND_EXPORT uint32_t BASS_GetVersion(void);
/* Lets the open device run / pauses it (channels keep their positions). */
ORVL_SOUND_EXPORT int BASS_Start(void);
ORVL_SOUND_EXPORT int BASS_Stop(void);
/* `in_memory` non-zero: `file` points at the data; otherwise it is a NUL-terminated path.
 * `offset` skips that many bytes; `length` 0 means up to the end. Returns a handle or 0. */
ORVL_SOUND_EXPORT uint32_t BASS_StreamCreateFile(int in_memory, const void* file, uint32_t offset,
                                                 uint32_t length, uint32_t flags);
ORVL_SOUND_EXPORT uint32_t BASS_MusicLoad(int in_memory, const void* file, uint32_t offset,
                                          uint32_t length, uint32_t flags);
/* Plays a module from where it stands. Non-zero on success. */
ORVL_SOUND_EXPORT int BASS_MusicPlay(uint32_t handle);
/* Plays a stream; `flush` non-zero restarts it from the beginning; ORVL_SOUND_LOOP loops. */
ORVL_SOUND_EXPORT int BASS_StreamPlay(uint32_t handle, int flush, uint32_t flags);
/* Stops a channel of either kind (it keeps its position). */
ORVL_SOUND_EXPORT int BASS_ChannelStop(uint32_t handle);
/* Frees a channel of either kind. */
ORVL_SOUND_EXPORT int BASS_MusicFree(uint32_t handle);
/* Closes the device and frees every channel. */
ORVL_SOUND_EXPORT int BASS_Free(void);

/* Diagnostics (not looked up by the player): frames of `handle` mixed so far, at the
 * device rate; -1 for an unknown handle. */
ORVL_SOUND_EXPORT int64_t ORVL_ChannelGetPosition(uint32_t handle);
/* Non-zero while `handle` is playing (it stops by itself at the end unless it loops). */
ORVL_SOUND_EXPORT int ORVL_ChannelIsPlaying(uint32_t handle);

/* Transport for a viewer (looked up by name where it is used; not part of the player's 13).
 * Moves `handle` to `frame` (at the device rate) by restarting its decoder and decoding up
 * to there, the simplest seek every format has: the cost grows with the position (an MP3
 * decodes minutes of sound in a fraction of a second). A position past the end leaves the
 * channel at its end, stopped unless it loops (it then wraps). Playing or stopped is kept.
 * Non-zero on success; 0 for an unknown handle or a decoder that cannot restart. */
ORVL_SOUND_EXPORT int ORVL_ChannelSetPosition(uint32_t handle, int64_t frame);
/* Non-zero `muted`: the channel keeps decoding and advancing but is not mixed in. */
ORVL_SOUND_EXPORT int ORVL_ChannelSetMute(uint32_t handle, int muted);

#ifdef __cplusplus
}
#endif

#endif
