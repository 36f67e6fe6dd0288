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
  // The frame server keeps the source's lifetime to itself; the activate
  // object holds its source until it goes.
  EXPECT_EQ(activate->ShutdownObject(), E_NOTIMPL);
  EXPECT_EQ(activate->DetachObject(), E_NOTIMPL);
  EXPECT_EQ(source.Reset(), 1u) << "the activate object's reference";
  EXPECT_EQ(stream.Reset(), 1u) << "its source's reference";
  EXPECT_EQ(can_unload_now(), S_FALSE) << "the activate object and its source live";
  EXPECT_EQ(activate.Reset(), 0u);
  EXPECT_EQ(can_unload_now(), S_OK) << "the source went with the activate object";
}

TEST(Lifetime, ShutdownObjectLeavesTheSourceInUseAndAShutSourceIsMadeAnew) {
  ComPtr<IMFActivate> activate;
  ASSERT_EQ(create_activate(activate), S_OK);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  ComPtr<IMFMediaStream> stream = start(source.Get());
  ASSERT_TRUE(stream);

  // Bookkeeping calls of the frame server's while an application streams.
  EXPECT_EQ(activate->ShutdownObject(), E_NOTIMPL);
  EXPECT_EQ(activate->DetachObject(), E_NOTIMPL);
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEStreamStarted);
  EXPECT_EQ(stream->RequestSample(nullptr), S_OK) << "the source still serves";
  EXPECT_EQ(type_of(next_event(stream.Get()).Get()), MEMediaSample);
  ComPtr<IMFMediaSource> same;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&same)), S_OK);
  EXPECT_EQ(same.Get(), source.Get());

  // Once its user shut it down, the next activation brings a working source.
  ASSERT_EQ(source->Shutdown(), S_OK);
  ComPtr<IMFMediaSource> fresh;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&fresh)), S_OK);
  EXPECT_NE(fresh.Get(), source.Get());
  DWORD characteristics = 0;
  EXPECT_EQ(fresh->GetCharacteristics(&characteristics), S_OK);
  EXPECT_EQ(fresh->Shutdown(), S_OK);
}

TEST(Lifetime, TheSourceHoldsTheFrameSectionFromItsCreationToItsShutdown) {
  // No writer and no other source in this process holds the section, and
  // the test takes the frame section's lock, so none exists.
  const auto section_exists = [] {
    // As a standard user's receiver can: open an existing one, not create it.
    HANDLE section = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, L"Global\\Korvex.Frames");
    if (section == nullptr) {
      return false;
    }
    CloseHandle(section);
    return true;
  };
  ASSERT_FALSE(section_exists());
  ComPtr<IMFActivate> activate;
  ASSERT_EQ(create_activate(activate), S_OK);
  ComPtr<IMFMediaSource> source;
  ASSERT_EQ(activate->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
  EXPECT_TRUE(section_exists()) << "made with the source, before anything streams";
  ComPtr<IMFMediaStream> stream = start(source.Get());
  ASSERT_TRUE(stream);
  ASSERT_EQ(source->Stop(), S_OK);
  EXPECT_TRUE(section_exists()) << "kept while the source is stopped";
  ASSERT_EQ(source->Shutdown(), S_OK);
  EXPECT_FALSE(section_exists()) << "let go with the shutdown";
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
  EXPECT_EQ(source.Reset(), 1u) << "the activate object's reference";
  EXPECT_EQ(activate.Reset(), 0u);
  EXPECT_EQ(stream->GetMediaSource(&owner), MF_E_SHUTDOWN);
  EXPECT_EQ(stream.Reset(), 0u);
}

}  // namespace
}  // namespace korvex::media_source::test
