#pragma once

// What the camera's frame server asks of a media source and MinGW-w64's
// headers do not declare, written out from the Windows SDK's mfidl.h, mfapi.h
// and ksmedia.h.

#include <windows.h>
// windows.h must come first.
#include <mfidl.h>

enum MFSampleAllocatorUsage {
  MFSampleAllocatorUsage_UsesProvidedAllocator = 0,
  MFSampleAllocatorUsage_UsesCustomAllocator = 1,
  MFSampleAllocatorUsage_DoesNotAllocate = 2,
};

// Lets the pipeline hand a media source the sample allocator to draw from.
// {DA62B958-3A38-4A97-BD27-149C640C0771}
struct IMFSampleAllocatorControl : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetDefaultAllocator(DWORD output_stream_id,
                                                        IUnknown* allocator) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAllocatorUsage(DWORD output_stream_id,
                                                      DWORD* input_stream_id,
                                                      MFSampleAllocatorUsage* usage) = 0;
};
__CRT_UUID_DECL(IMFSampleAllocatorControl, 0xDA62B958, 0x3A38, 0x4A97, 0xBD, 0x27, 0x14, 0x9C, 0x64,
                0x0C, 0x07, 0x71)

// A media stream whose state the frame server sets directly.
// {C5BC37D6-75C7-46A1-A132-81B5F723C20F}
struct IMFMediaStream2 : public IMFMediaStream {
  virtual HRESULT STDMETHODCALLTYPE SetStreamState(MF_STREAM_STATE value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamState(MF_STREAM_STATE* value) = 0;
};
__CRT_UUID_DECL(IMFMediaStream2, 0xC5BC37D6, 0x75C7, 0x46A1, 0xA1, 0x32, 0x81, 0xB5, 0xF7, 0x23,
                0xC2, 0x0F)

namespace korvex::media_source {

// Device stream attributes, with the SDK's names.
inline constexpr GUID MF_DEVICESTREAM_STREAM_ID = {
    0x11BD5120, 0xD124, 0x446B, {0x88, 0xE6, 0x17, 0x06, 0x02, 0x57, 0xFF, 0xF9}};
inline constexpr GUID MF_DEVICESTREAM_STREAM_CATEGORY = {
    0x2939E7B8, 0xA62E, 0x4579, {0xB6, 0x74, 0xD4, 0x07, 0x3D, 0xFA, 0xBB, 0xBA}};
inline constexpr GUID MF_DEVICESTREAM_FRAMESERVER_SHARED = {
    0x1CB378E9, 0xB279, 0x41D4, {0xAF, 0x97, 0x34, 0xA2, 0x43, 0xE6, 0x83, 0x20}};
inline constexpr GUID MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES = {
    0x17145FD1, 0x1B2B, 0x423C, {0x80, 0x01, 0x2B, 0x68, 0x33, 0xED, 0x35, 0x88}};
inline constexpr UINT32 MFFrameSourceTypes_Color = 0x0001;

}  // namespace korvex::media_source
