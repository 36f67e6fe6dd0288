// Every object the DLL hands out goes when its last reference does, and the
// DLL may be unloaded only then.

#include <gtest/gtest.h>
#include <mferror.h>

#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

// The count Release leaves, and our pointer dropped with it.
template <class Interface>
ULONG release(ComPtr<Interface>& pointer) {
  return pointer.Reset();
}

TEST(Lifetime, ObjectsGoWithTheirLastReferenceAndThenTheDllMayUnload) {
  const GetClassObject get_class_object = dll_get_class_object();
  const CanUnloadNow can_unload_now = dll_can_unload_now();
  ASSERT_NE(get_class_object, nullptr);
  ASSERT_NE(can_unload_now, nullptr);
  ASSERT_EQ(can_unload_now(), S_OK) << "an object of an earlier test is still alive";

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get_class_object(kSourceClsid, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(can_unload_now(), S_FALSE);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(release(factory), 0u);
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the factory's lock keeps the DLL";
  ASSERT_EQ(get_class_object(kSourceClsid, IID_PPV_ARGS(&factory)), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);

  ComPtr<IMFActivate> activate;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&activate)), S_OK);
  EXPECT_EQ(release(factory), 0u);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);

  // Started and asked for a sample, so a worker thread and events exist.
  ComPtr<IMFPresentationDescriptor> presentation;
  ASSERT_EQ(source->CreatePresentationDescriptor(&presentation), S_OK);
  PROPVARIANT from_now{};
  ASSERT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), S_OK);
  ComPtr<IMFMediaEvent> announced = next_event(source.Get());
  ASSERT_EQ(type_of(announced.Get()), MENewStream);
  PROPVARIANT value{};
  ASSERT_EQ(announced->GetValue(&value), S_OK);
  ComPtr<IMFMediaStream> stream;
  ASSERT_EQ(value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)), S_OK);
  PropVariantClear(&value);
  release(announced);
  ASSERT_EQ(stream->RequestSample(nullptr), S_OK);
  EXPECT_EQ(release(presentation), 0u);

  ASSERT_EQ(source->Shutdown(), S_OK);
  ASSERT_EQ(activate->ShutdownObject(), S_OK);  // lets go of its source
  EXPECT_EQ(release(source), 0u);
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the stream and the activate object live";
  ComPtr<IMFMediaSource> gone;
  EXPECT_EQ(stream->GetMediaSource(&gone), MF_E_SHUTDOWN);
  EXPECT_EQ(release(stream), 0u);
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the activate object lives";
  EXPECT_EQ(release(activate), 0u);
  EXPECT_EQ(can_unload_now(), S_OK);
}

TEST(Lifetime, StreamOutlivingItsSourceNamesNoSource) {
  ComPtr<IMFActivate> activate;
  ASSERT_EQ(create_activate(activate), S_OK);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  ComPtr<IMFPresentationDescriptor> presentation;
  ASSERT_EQ(source->CreatePresentationDescriptor(&presentation), S_OK);
  PROPVARIANT from_now{};
  ASSERT_EQ(source->Start(presentation.Get(), &GUID_NULL, &from_now), S_OK);
  ComPtr<IMFMediaEvent> announced = next_event(source.Get());
  PROPVARIANT value{};
  ASSERT_EQ(announced->GetValue(&value), S_OK);
  ComPtr<IMFMediaStream> stream;
  ASSERT_EQ(value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)), S_OK);
  PropVariantClear(&value);
  release(announced);

  ComPtr<IMFMediaSource> owner;
  ASSERT_EQ(stream->GetMediaSource(&owner), S_OK);
  EXPECT_EQ(owner, source);
  release(owner);

  // Released without Shutdown (a careless client): the source still goes,
  // and the stream it leaves behind answers MF_E_SHUTDOWN for it.
  release(presentation);
  activate->DetachObject();
  EXPECT_EQ(release(activate), 0u);
  EXPECT_EQ(release(source), 0u);
  EXPECT_EQ(stream->GetMediaSource(&owner), MF_E_SHUTDOWN);
  EXPECT_EQ(release(stream), 0u);
}

}  // namespace
}  // namespace korvex::media_source::test
