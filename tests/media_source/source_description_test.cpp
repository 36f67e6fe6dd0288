// The DLL loaded as the system loads it, and what its source says about
// itself before anything starts.

#include <gtest/gtest.h>
#include <mfapi.h>
#include <mferror.h>
// After mfidl.h: the kernel-streaming headers clash with DirectShow's otherwise.
#include <devicetopology.h>

#include <array>
#include <utility>
#include <vector>

#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

// Device stream attributes (mfidl.h / mfapi.h of the Windows SDK).
constexpr GUID kStreamId = {
    0x11BD5120, 0xD124, 0x446B, {0x88, 0xE6, 0x17, 0x06, 0x02, 0x57, 0xFF, 0xF9}};
constexpr GUID kStreamCategory = {
    0x2939E7B8, 0xA62E, 0x4579, {0xB6, 0x74, 0xD4, 0x07, 0x3D, 0xFA, 0xBB, 0xBA}};
constexpr GUID kFrameServerShared = {
    0x1CB378E9, 0xB279, 0x41D4, {0xAF, 0x97, 0x34, 0xA2, 0x43, 0xE6, 0x83, 0x20}};
constexpr GUID kFrameSourceTypes = {
    0x17145FD1, 0x1B2B, 0x423C, {0x80, 0x01, 0x2B, 0x68, 0x33, 0xED, 0x35, 0x88}};
constexpr GUID kVideoCapturePin = {
    0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr GUID kAllocatorControl = {
    0xDA62B958, 0x3A38, 0x4A97, {0xBD, 0x27, 0x14, 0x9C, 0x64, 0x0C, 0x07, 0x71}};
constexpr GUID kMediaStream2 = {
    0xC5BC37D6, 0x75C7, 0x46A1, {0xA1, 0x32, 0x81, 0xB5, 0xF7, 0x23, 0xC2, 0x0F}};

struct ExpectedType {
  GUID subtype;
  UINT32 width;
  UINT32 height;
  UINT32 fps;
  UINT32 stride;
  UINT32 sample_size;
};

// NV12, then YUY2; 16:9 sizes, then 4:3; each at 30 and 15 fps.
std::vector<ExpectedType> expected_types() {
  std::vector<ExpectedType> types;
  for (const GUID& subtype : {MFVideoFormat_NV12, MFVideoFormat_YUY2}) {
    const bool nv12 = subtype == MFVideoFormat_NV12;
    for (auto [width, height] :
         {std::pair{1920u, 1080u}, {1280u, 720u}, {640u, 360u}, {1280u, 960u}, {640u, 480u}}) {
      for (UINT32 fps : {30u, 15u}) {
        types.push_back({subtype, width, height, fps, nv12 ? width : 2 * width,
                         nv12 ? width * height * 3 / 2 : width * height * 2});
      }
    }
  }
  return types;
}

UINT64 pair(UINT32 high, UINT32 low) {
  return UINT64{high} << 32 | low;
}

void expect_guid(IMFAttributes* attributes, REFGUID key, REFGUID expected) {
  GUID value{};
  EXPECT_EQ(attributes->GetGUID(key, &value), S_OK);
  EXPECT_EQ(value, expected);
}

void expect_uint32(IMFAttributes* attributes, REFGUID key, UINT32 expected) {
  UINT32 value = 0;
  EXPECT_EQ(attributes->GetUINT32(key, &value), S_OK);
  EXPECT_EQ(value, expected);
}

void expect_uint64(IMFAttributes* attributes, REFGUID key, UINT64 expected) {
  UINT64 value = 0;
  EXPECT_EQ(attributes->GetUINT64(key, &value), S_OK);
  EXPECT_EQ(value, expected);
}

void expect_capture_stream_attributes(IMFAttributes* attributes) {
  expect_guid(attributes, kStreamCategory, kVideoCapturePin);
  expect_uint32(attributes, kStreamId, 0);
  expect_uint32(attributes, kFrameServerShared, 1);
  expect_uint32(attributes, kFrameSourceTypes, 1);  // MFFrameSourceTypes_Color
}

TEST(SourceDll, HandsOutTheSourceThroughFactoryAndActivate) {
  const GetClassObject get_class_object = dll_get_class_object();
  ASSERT_NE(get_class_object, nullptr) << "KorvexSource.dll or its DllGetClassObject is missing";

  ComPtr<IClassFactory> factory;
  const CLSID other = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 4}};
  EXPECT_EQ(get_class_object(other, IID_PPV_ARGS(&factory)), CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_EQ(get_class_object(kSourceClsid, IID_PPV_ARGS(&factory)), S_OK);

  ComPtr<IMFActivate> activate;
  ComPtr<IUnknown> outer;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&outer)), S_OK);
  EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_PPV_ARGS(&activate)), CLASS_E_NOAGGREGATION);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&activate)), S_OK);

  // The activate object keeps attributes, and the source starts with them.
  const GUID marker = {0xABCDEF01, 0x2345, 0x6789, {1, 2, 3, 4, 5, 6, 7, 8}};
  ASSERT_EQ(activate->SetUINT32(marker, 42), S_OK);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  ComPtr<IMFMediaSourceEx> source_ex;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source_ex)), S_OK);
  ComPtr<IUnknown> identity_a;
  ComPtr<IUnknown> identity_b;
  source.As(&identity_a);
  source_ex.As(&identity_b);
  EXPECT_EQ(identity_a, identity_b) << "a second ActivateObject gives the same source";

  ComPtr<IMFAttributes> attributes;
  ASSERT_EQ(source_ex->GetSourceAttributes(&attributes), S_OK);
  expect_uint32(attributes.Get(), marker, 42);
  ComPtr<IMFAttributes> again;
  ASSERT_EQ(source_ex->GetSourceAttributes(&again), S_OK);
  EXPECT_EQ(again, attributes) << "the source's own store, not a copy";

  // Asked for a source interface, the factory makes a source directly.
  ComPtr<IMFMediaSourceEx> direct;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&direct)), S_OK);
  EXPECT_EQ(direct->Shutdown(), S_OK);

  EXPECT_EQ(source->Shutdown(), S_OK);
}

TEST(SourceDll, DescribesOneLiveColorCaptureStream) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);
  IMFMediaSource* source = session->source.Get();

  DWORD characteristics = 0;
  ASSERT_EQ(source->GetCharacteristics(&characteristics), S_OK);
  EXPECT_EQ(characteristics, DWORD{MFMEDIASOURCE_IS_LIVE});

  ComPtr<IMFMediaSourceEx> source_ex;
  ASSERT_EQ(session->source.As(&source_ex), S_OK);
  ComPtr<IMFAttributes> stream_attributes;
  ASSERT_EQ(source_ex->GetStreamAttributes(0, &stream_attributes), S_OK);
  expect_capture_stream_attributes(stream_attributes.Get());
  EXPECT_EQ(source_ex->GetStreamAttributes(1, &stream_attributes), MF_E_INVALIDSTREAMNUMBER);
  EXPECT_EQ(source_ex->SetD3DManager(nullptr), S_OK);

  ComPtr<IMFPresentationDescriptor> presentation;
  ASSERT_EQ(source->CreatePresentationDescriptor(&presentation), S_OK);
  DWORD count = 0;
  ASSERT_EQ(presentation->GetStreamDescriptorCount(&count), S_OK);
  ASSERT_EQ(count, 1u);
  BOOL selected = FALSE;
  ComPtr<IMFStreamDescriptor> descriptor;
  ASSERT_EQ(presentation->GetStreamDescriptorByIndex(0, &selected, &descriptor), S_OK);
  EXPECT_TRUE(selected);
  DWORD id = 99;
  ASSERT_EQ(descriptor->GetStreamIdentifier(&id), S_OK);
  EXPECT_EQ(id, 0u);
  expect_capture_stream_attributes(descriptor.Get());

  ComPtr<IMFMediaTypeHandler> handler;
  ASSERT_EQ(descriptor->GetMediaTypeHandler(&handler), S_OK);
  const std::vector<ExpectedType> expected_list = expected_types();
  DWORD types = 0;
  ASSERT_EQ(handler->GetMediaTypeCount(&types), S_OK);
  ASSERT_EQ(types, expected_list.size());
  for (DWORD i = 0; i < types; ++i) {
    SCOPED_TRACE(testing::Message() << "media type " << i);
    const ExpectedType& expected = expected_list[i];
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(handler->GetMediaTypeByIndex(i, &type), S_OK);
    expect_guid(type.Get(), MF_MT_MAJOR_TYPE, MFMediaType_Video);
    expect_guid(type.Get(), MF_MT_SUBTYPE, expected.subtype);
    expect_uint64(type.Get(), MF_MT_FRAME_SIZE, pair(expected.width, expected.height));
    expect_uint64(type.Get(), MF_MT_FRAME_RATE, pair(expected.fps, 1));
    expect_uint64(type.Get(), MF_MT_FRAME_RATE_RANGE_MIN, pair(15, 1));
    expect_uint64(type.Get(), MF_MT_FRAME_RATE_RANGE_MAX, pair(30, 1));
    expect_uint64(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, pair(1, 1));
    expect_uint32(type.Get(), MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    expect_uint32(type.Get(), MF_MT_DEFAULT_STRIDE, expected.stride);
    expect_uint32(type.Get(), MF_MT_FIXED_SIZE_SAMPLES, TRUE);
    expect_uint32(type.Get(), MF_MT_SAMPLE_SIZE, expected.sample_size);
    expect_uint32(type.Get(), MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    // How consumers convert the colour: the phone's BT.709, video range.
    expect_uint32(type.Get(), MF_MT_YUV_MATRIX, MFVideoTransferMatrix_BT709);
    expect_uint32(type.Get(), MF_MT_VIDEO_NOMINAL_RANGE, MFNominalRange_16_235);
    expect_uint32(type.Get(), MF_MT_AVG_BITRATE, expected.sample_size * 8 * expected.fps);
  }
  ComPtr<IMFMediaType> current;
  ComPtr<IMFMediaType> first;
  ASSERT_EQ(handler->GetCurrentMediaType(&current), S_OK);
  ASSERT_EQ(handler->GetMediaTypeByIndex(0, &first), S_OK);
  DWORD equal_parts = 0;
  EXPECT_EQ(current->IsEqual(first.Get(), &equal_parts), S_OK) << "the current type is the first";
}

TEST(SourceDll, AnswersTheFrameServersSideInterfaces) {
  auto session = CameraSession::open();
  ASSERT_TRUE(session);

  ComPtr<IKsControl> control;
  ASSERT_EQ(session->source.As(&control), S_OK);
  KSPROPERTY property{};
  property.Set = kVideoCapturePin;
  ULONG returned = 0;
  BYTE data[16];
  const HRESULT set_not_found = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);
  EXPECT_EQ(control->KsProperty(&property, sizeof property, data, sizeof data, &returned),
            set_not_found);
  EXPECT_EQ(control->KsMethod(&property, sizeof property, data, sizeof data, &returned),
            set_not_found);
  EXPECT_EQ(control->KsEvent(&property, sizeof property, data, sizeof data, &returned),
            set_not_found);

  ComPtr<IMFGetService> services;
  ASSERT_EQ(session->source.As(&services), S_OK);
  ComPtr<IUnknown> service;
  EXPECT_EQ(services->GetService(MF_RATE_CONTROL_SERVICE, IID_PPV_ARGS(&service)),
            MF_E_UNSUPPORTED_SERVICE);
  EXPECT_FALSE(service);

  ComPtr<IUnknown> allocator_control;
  EXPECT_EQ(session->source->QueryInterface(kAllocatorControl, &allocator_control), S_OK);
  session->start(0);
  ASSERT_TRUE(session->stream);
  ComPtr<IUnknown> stream2;
  EXPECT_EQ(session->stream->QueryInterface(kMediaStream2, &stream2), S_OK);
}

}  // namespace
}  // namespace korvex::media_source::test
