// The JNI glue on the real JVM: handle fields, string conversions, String[]
// building, class lookup, System.exit, the context class loader and the
// RedirOutputStream native. Loops run inside a 16-reference local frame so
// that -Xcheck:jni reports any local reference a routine leaks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "jvm_fixture.h"
#include "launcher/os.h"
#include "launcher/process_state.h"
#include "vm/jni_glue.h"

extern "C" JNIEXPORT void JNICALL Java_com_tarnwick_qlx_RedirOutputStream_write(JNIEnv*, jobject,
                                                                               jint);

namespace qlx::jnitest {
namespace {

bool utf8Locale() { return MB_CUR_MAX > 1; }

jobject newObject(JNIEnv* env, const char* className) {
  jclass cls = env->FindClass(className);
  EXPECT_NE(cls, nullptr) << className;
  jmethodID ctor = env->GetMethodID(cls, "<init>", "()V");
  jobject object = env->NewObject(cls, ctor);
  env->DeleteLocalRef(cls);
  return object;
}

jstring javaString(JNIEnv* env, std::u16string units) {
  return env->NewString(reinterpret_cast<const jchar*>(units.data()),
                        static_cast<jsize>(units.size()));
}

std::string unitsOf(JNIEnv* env, jstring text) {
  jclass probe = env->FindClass("qlxtest/Probe");
  jmethodID units = env->GetStaticMethodID(probe, "units", "(Ljava/lang/String;)Ljava/lang/String;");
  jstring result = static_cast<jstring>(env->CallStaticObjectMethod(probe, units, text));
  EXPECT_TRUE(noPendingException(env));
  std::string out = utf8Of(env, result);
  env->DeleteLocalRef(result);
  env->DeleteLocalRef(probe);
  return out;
}

// Runs `body` many times inside a local frame of the guaranteed capacity.
template <typename Body>
void inSmallFrame(JNIEnv* env, Body body) {
  ASSERT_EQ(env->PushLocalFrame(16), 0);
  for (int i = 0; i < 64; ++i) body();
  env->PopLocalFrame(nullptr);
}

TEST(CheckException, ClearsAndReports) {
  JNIEnv* env = sharedEnv();
  EXPECT_FALSE(checkException(env, false));
  jclass error = env->FindClass("java/lang/IllegalStateException");
  env->ThrowNew(error, "pending on purpose");
  EXPECT_TRUE(checkException(env, false));
  EXPECT_TRUE(noPendingException(env));
  inSmallFrame(env, [&] {
    env->ThrowNew(error, "again");
    checkException(env, false);
  });
  env->DeleteLocalRef(error);
}

TEST(HandleFields, LongField) {
  JNIEnv* env = sharedEnv();
  jobject object = newObject(env, "qlxtest/Probe$LongHandle");
  EXPECT_TRUE(hasHandleField(env, object, "h"));
  EXPECT_EQ(getHandleField(env, object, "h"), 0);
  EXPECT_TRUE(setHandleField(env, object, "h", static_cast<intptr_t>(0x123456789ABCDEF0LL)));
  EXPECT_EQ(getHandleField(env, object, "h"), static_cast<intptr_t>(0x123456789ABCDEF0LL));
  EXPECT_TRUE(setHandleField(env, object, "h", -1));
  EXPECT_EQ(getHandleField(env, object, "h"), -1);
  EXPECT_TRUE(noPendingException(env));
  inSmallFrame(env, [&] {
    hasHandleField(env, object, "h");
    getHandleField(env, object, "h");
    setHandleField(env, object, "h", 5);
  });
  env->DeleteLocalRef(object);
}

TEST(HandleFields, IntFieldSignExtendsAndKeepsLow32Bits) {
  JNIEnv* env = sharedEnv();
  jobject object = newObject(env, "qlxtest/Probe$IntHandle");
  jclass cls = env->GetObjectClass(object);
  jfieldID field = env->GetFieldID(cls, "h", "I");
  env->SetIntField(object, field, -1);
  EXPECT_TRUE(hasHandleField(env, object, "h"));
  EXPECT_EQ(getHandleField(env, object, "h"), static_cast<intptr_t>(-1));
  EXPECT_TRUE(noPendingException(env));  // the failed "J" lookup left nothing behind

  EXPECT_TRUE(setHandleField(env, object, "h", static_cast<intptr_t>(0x1234567887654321LL)));
  EXPECT_EQ(env->GetIntField(object, field), static_cast<jint>(0x87654321u));
  EXPECT_EQ(getHandleField(env, object, "h"), static_cast<intptr_t>(0xFFFFFFFF87654321ULL));
  EXPECT_TRUE(noPendingException(env));
  inSmallFrame(env, [&] {
    getHandleField(env, object, "h");
    setHandleField(env, object, "h", 5);
  });
  env->DeleteLocalRef(cls);
  env->DeleteLocalRef(object);
}

TEST(HandleFields, NeitherFieldGivesNeutralResults) {
  JNIEnv* env = sharedEnv();
  for (const char* className : {"qlxtest/Probe$NoHandle", "qlxtest/Probe$ObjectHandle"}) {
    jobject object = newObject(env, className);
    EXPECT_FALSE(hasHandleField(env, object, "h")) << className;
    EXPECT_EQ(getHandleField(env, object, "h"), 0) << className;
    EXPECT_FALSE(setHandleField(env, object, "h", 7)) << className;
    EXPECT_TRUE(noPendingException(env)) << className;
    inSmallFrame(env, [&] {
      hasHandleField(env, object, "h");
      getHandleField(env, object, "h");
      setHandleField(env, object, "h", 7);
    });
    env->DeleteLocalRef(object);
  }
}

TEST(Strings, ToNativeStopsAtCharacterZero) {
  JNIEnv* env = sharedEnv();
  jstring text = javaString(env, std::u16string(u"ab\0cd", 5));
  EXPECT_EQ(toNativeString(env, text), "ab");
  jstring leading = javaString(env, std::u16string(u"\0x", 2));
  EXPECT_EQ(toNativeString(env, leading), "");
  EXPECT_EQ(toNativeString(env, nullptr), "");
  EXPECT_TRUE(noPendingException(env));
  inSmallFrame(env, [&] { toNativeString(env, text); });
  env->DeleteLocalRef(leading);
  env->DeleteLocalRef(text);
}

TEST(Strings, ToNativeOutsideAsciiFollowsTheLocale) {
  JNIEnv* env = sharedEnv();
  // e-acute, euro sign, a character beyond U+FFFF, a lone surrogate
  jstring text = javaString(env, u"a\u00e9\u20ac\U0001F600b\xD800z");
  const std::string narrow = toNativeString(env, text);
  if (utf8Locale())
    EXPECT_EQ(narrow, "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b?z");
  else
    EXPECT_EQ(narrow, "a???b?z");  // the C locale has no character above 0x7F
  env->DeleteLocalRef(text);
}

TEST(Strings, ToJavaFollowsTheLocale) {
  JNIEnv* env = sharedEnv();
  jstring ascii = toJavaString(env, "plain text");
  EXPECT_EQ(utf8Of(env, ascii), "plain text");
  jstring empty = toJavaString(env, nullptr);
  EXPECT_EQ(utf8Of(env, empty), "");
  jstring accented = toJavaString(env, "\xC3\xA9\xF0\x9F\x98\x80!");
  EXPECT_EQ(unitsOf(env, accented), utf8Locale() ? "e9 d83d de00 21" : "3f 3f 3f 3f 3f 3f 21");
  EXPECT_TRUE(noPendingException(env));
  inSmallFrame(env, [&] { env->DeleteLocalRef(toJavaString(env, "x")); });
  env->DeleteLocalRef(accented);
  env->DeleteLocalRef(empty);
  env->DeleteLocalRef(ascii);
}

std::string joined(JNIEnv* env, jobjectArray array) {
  std::string out;
  const jsize length = env->GetArrayLength(array);
  for (jsize i = 0; i < length; ++i) {
    jstring element = static_cast<jstring>(env->GetObjectArrayElement(array, i));
    out += "[" + utf8Of(env, element) + "]";
    if (element != nullptr) env->DeleteLocalRef(element);
  }
  return out;
}

TEST(StringArrays, ThreeListsInOrder) {
  JNIEnv* env = sharedEnv();
  jobjectArray empty = buildStringArray(env, 0, nullptr, 0, nullptr, 0, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(env->GetArrayLength(empty), 0);

  const char* a[] = {"a", "b c"};
  const char* b[] = {"d"};
  const char* c[] = {"", "e"};
  jobjectArray all = buildStringArray(env, 2, a, 1, b, 2, c);
  EXPECT_EQ(joined(env, all), "[a][b c][d][][e]");

  const char* withNulls[] = {nullptr, "x", nullptr};
  jobjectArray nulls = buildStringArray(env, 0, nullptr, 3, withNulls, 0, nullptr);
  EXPECT_EQ(joined(env, nulls), "[][x][]");

  jclass stringClass = env->FindClass("java/lang/String");
  jclass arrayClass = env->GetObjectClass(all);
  jclass stringArray = env->FindClass("[Ljava/lang/String;");
  EXPECT_TRUE(env->IsSameObject(arrayClass, stringArray));
  EXPECT_TRUE(noPendingException(env));
  inSmallFrame(env, [&] { env->DeleteLocalRef(buildStringArray(env, 2, a, 1, b, 2, c)); });
  for (jobject ref : {static_cast<jobject>(empty), static_cast<jobject>(all),
                      static_cast<jobject>(nulls), static_cast<jobject>(stringClass),
                      static_cast<jobject>(arrayClass), static_cast<jobject>(stringArray)})
    env->DeleteLocalRef(ref);
}

TEST(FindClassDotted, DotsAndSlashesFindTheSameClass) {
  JNIEnv* env = sharedEnv();
  jclass dotted = findClassDotted(env, "java.lang.String");
  jclass direct = env->FindClass("java/lang/String");
  ASSERT_NE(dotted, nullptr);
  EXPECT_TRUE(env->IsSameObject(dotted, direct));
  jclass nested = findClassDotted(env, "qlxtest.Probe$LongHandle");
  EXPECT_NE(nested, nullptr);
  EXPECT_EQ(findClassDotted(env, "no.such.Clazz"), nullptr);
  EXPECT_TRUE(noPendingException(env));
  env->DeleteLocalRef(nested);
  env->DeleteLocalRef(direct);
  env->DeleteLocalRef(dotted);
}

TEST(CallSystemExit, EndsTheProcessWithTheStatus) {
  EXPECT_EXIT(
      {
        callSystemExit(sharedEnv(), 7);
        std::_Exit(99);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST(VmHostOnRealVm, CreatedHostKeepsNoOptions) { EXPECT_TRUE(sharedVm().options().empty()); }

// Death tests re-run the body up to the statement in a fresh process: no
// shared VM may be created before it.
TEST(VmHostOnRealVm, OptionsAreConsumedAndShutdownRepeats) {
  EXPECT_EXIT(
      {
        VmHost host;
        host.addOption("-Xcheck:jni");
        host.addOption("-Xmxfoo");  // refused by the VM's option parser
        const int failed = host.createVm(QLX_JNI_LIBJVM, systemOs());
        const bool consumed = host.options().empty();
        const bool loaded = host.libraryLoaded();
        host.shutdownVm();
        host.shutdownVm();
        std::_Exit(failed == 4 && consumed && loaded && !host.libraryLoaded() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        VmHost host;
        host.addOption("-Xcheck:jni");
        const int created = host.createVm(QLX_JNI_LIBJVM, systemOs());
        host.shutdownVm();
        const bool ended = host.javaVm() == nullptr && host.env() == nullptr;
        host.shutdownVm();
        std::_Exit(created == 0 && ended ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

bool contextLoaderIs(JNIEnv* env, jobject loader) {
  jclass probe = env->FindClass("qlxtest/Probe");
  jmethodID is = env->GetStaticMethodID(probe, "contextLoaderIs", "(Ljava/lang/ClassLoader;)Z");
  const bool same = env->CallStaticBooleanMethod(probe, is, loader) == JNI_TRUE;
  EXPECT_TRUE(noPendingException(env));
  env->DeleteLocalRef(probe);
  return same;
}

TEST(ContextClassLoader, SetWithAndWithoutEnvironment) {
  JNIEnv* env = sharedEnv();
  jclass loaderClass = env->FindClass("java/lang/ClassLoader");
  jobject system = env->CallStaticObjectMethod(
      loaderClass,
      env->GetStaticMethodID(loaderClass, "getSystemClassLoader", "()Ljava/lang/ClassLoader;"));
  ASSERT_TRUE(noPendingException(env));
  jobject platform = env->CallStaticObjectMethod(
      loaderClass,
      env->GetStaticMethodID(loaderClass, "getPlatformClassLoader", "()Ljava/lang/ClassLoader;"));
  ASSERT_TRUE(noPendingException(env));
  ASSERT_NE(platform, nullptr);

  setContextClassLoader(env, platform);
  EXPECT_TRUE(contextLoaderIs(env, platform));

  // Without an environment the creating thread's one is used.
  VmHost* saved = processState().vmHost;
  processState().vmHost = &sharedVm();
  setContextClassLoader(nullptr, nullptr);
  EXPECT_TRUE(contextLoaderIs(env, nullptr));
  processState().vmHost = nullptr;
  setContextClassLoader(nullptr, platform);  // no VM published: nothing happens
  EXPECT_TRUE(contextLoaderIs(env, nullptr));
  processState().vmHost = saved;

  inSmallFrame(env, [&] { setContextClassLoader(env, system); });
  EXPECT_TRUE(contextLoaderIs(env, system));
  EXPECT_TRUE(noPendingException(env));
  env->DeleteLocalRef(platform);
  env->DeleteLocalRef(system);
  env->DeleteLocalRef(loaderClass);
}

std::string fileBytes(int fd) {
  std::string out;
  char buffer[64];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  return out;
}

int tempFile() {
  char name[] = "/tmp/qlx-jni-XXXXXX";
  const int fd = mkstemp(name);
  unlink(name);
  return fd;
}

TEST(RedirOutputStream, WritesTheLowByteToTheHandle) {
  JNIEnv* env = sharedEnv();
  jclass cls = env->FindClass("com/tarnwick/qlx/RedirOutputStream");
  ASSERT_NE(cls, nullptr);
  JNINativeMethod write = {const_cast<char*>("write"), const_cast<char*>("(I)V"),
                           reinterpret_cast<void*>(&Java_com_tarnwick_qlx_RedirOutputStream_write)};
  ASSERT_EQ(env->RegisterNatives(cls, &write, 1), 0);
  jobject stream = env->NewObject(cls, env->GetMethodID(cls, "<init>", "()V"));
  jfieldID h = env->GetFieldID(cls, "h", "J");

  jclass probe = env->FindClass("qlxtest/Probe");
  jmethodID writeAll =
      env->GetStaticMethodID(probe, "write", "(Lcom/tarnwick/qlx/RedirOutputStream;[I)V");
  const auto writeValues = [&](std::initializer_list<jint> values) {
    jintArray array = env->NewIntArray(static_cast<jsize>(values.size()));
    env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.begin());
    env->CallStaticVoidMethod(probe, writeAll, stream, array);
    EXPECT_TRUE(noPendingException(env));
    env->DeleteLocalRef(array);
  };

  const int target = tempFile();
  ASSERT_GE(target, 0);
  env->SetLongField(stream, h, target);
  writeValues({0x41, 0x142, -1, 0x100, 0x7F});
  EXPECT_EQ(fileBytes(target), std::string("\x41\x42\xFF\x00\x7F", 5));

  // h == 0 writes nothing, not even to descriptor 0.
  const int standIn = tempFile();
  const int savedStdin = dup(0);
  dup2(standIn, 0);
  env->SetLongField(stream, h, 0);
  writeValues({1, 2, 3});
  dup2(savedStdin, 0);
  close(savedStdin);
  EXPECT_EQ(fileBytes(standIn), "");
  EXPECT_EQ(fileBytes(target).size(), 5u);

  close(standIn);
  close(target);
  env->UnregisterNatives(cls);
  env->DeleteLocalRef(probe);
  env->DeleteLocalRef(stream);
  env->DeleteLocalRef(cls);
}

}  // namespace
}  // namespace qlx::jnitest
