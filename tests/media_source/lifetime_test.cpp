// Every object the DLL hands out goes with its last reference, and the DLL
// may be unloaded only then.

#include <gtest/gtest.h>
#include <mferror.h>

#include "source_dll.hpp"

namespace korvex::media_source::test {
namespace {

// Starts the source with its default media type; the stream it announces.
ComPtr<IMFMediaStream> start(IMFMediaSource* source) {
  ComPtr<IMFPresentationDescriptor> presentation;
  PROPVARIANT from_now{};
  if (FAILED(source->CreatePresentationDescriptor(&presentation)) ||
      FAILED(source->Start(presentation.Get(), &GUID_NULL, &from_now))) {
    return nullptr;
  }
  return event_object<IMFMediaStream>(next_event(source).Get());
}

TEST(Lifetime, ObjectsGoWithTheirLastReferenceAndThenTheDllMayUnload) {
  const GetClassObject get_class_object = dll_get_class_object();
  const CanUnloadNow can_unload_now = dll_can_unload_now();
  ASSERT_NE(get_class_object, nullptr);
  ASSERT_NE(can_unload_now, nullptr);
  ASSERT_EQ(can_unload_now(), S_OK) << "an object of an earlier test is still alive";

  // ComPtr::Reset answers the count Release leaves.
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(get_class_object(kSourceClsid, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(can_unload_now(), S_FALSE);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory.Reset(), 0u);
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the factory's lock keeps the DLL";
  ASSERT_EQ(get_class_object(kSourceClsid, IID_PPV_ARGS(&factory)), S_OK);
  ASSERT_EQ(factory->LockServer(FALSE), S_OK);

  ComPtr<IMFActivate> activate;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_PPV_ARGS(&activate)), S_OK);
  EXPECT_EQ(factory.Reset(), 0u);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  // Started with a request waiting, so a worker thread and events exist.
  ComPtr<IMFMediaStream> stream = start(source.Get());
  ASSERT_TRUE(stream);
  ASSERT_EQ(stream->RequestSample(nullptr), S_OK);

  ASSERT_EQ(source->Shutdown(), S_OK);
  ASSERT_EQ(activate->ShutdownObject(), S_OK);  // lets go of its source
  EXPECT_EQ(source.Reset(), 0u);
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the stream and the activate object live";
  EXPECT_EQ(stream.Reset(), 0u);
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the activate object lives";
  EXPECT_EQ(activate.Reset(), 0u);
  EXPECT_EQ(can_unload_now(), S_OK);
}

TEST(Lifetime, StreamOutlivingItsSourceNamesNoSource) {
  ComPtr<IMFActivate> activate;
  ASSERT_EQ(create_activate(activate), S_OK);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  ComPtr<IMFMediaStream> stream = start(source.Get());
  ASSERT_TRUE(stream);
  ComPtr<IMFMediaSource> owner;
  ASSERT_EQ(stream->GetMediaSource(&owner), S_OK);
  EXPECT_EQ(owner, source);
  owner.Reset();

  // Released while running, without Shutdown (a careless client): the
  // source still goes, and its stream no longer names it.
  ASSERT_EQ(activate->DetachObject(), S_OK);
  EXPECT_EQ(activate.Reset(), 0u);
  EXPECT_EQ(source.Reset(), 0u);
  EXPECT_EQ(stream->GetMediaSource(&owner), MF_E_SHUTDOWN);
  EXPECT_EQ(stream.Reset(), 0u);
}

}  // namespace
}  // namespace korvex::media_source::test
