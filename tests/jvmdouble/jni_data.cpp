// The double's JNI string and array functions. Buffers handed out by
// Get*Chars must come back through the matching Release call.
#include <cstring>
#include <set>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

// ---- strings

jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
  enter(env, "NewString");
  if (length < 0 || (units == nullptr && length > 0)) fail(98, "NewString: bad arguments");
  return newString(std::u16string(reinterpret_cast<const char16_t*>(units), length));
}

jstring JNICALL NewStringUTF(JNIEnv* env, const char* utf) {
  enter(env, "NewStringUTF");
  if (utf == nullptr) return nullptr;
  return newString(utf8ToUtf16(utf));
}

jsize JNICALL GetStringLength(JNIEnv* env, jstring s) {
  enter(env, "GetStringLength");
  return (jsize)need(s, Kind::String, "GetStringLength")->text.size();
}

jsize JNICALL GetStringUTFLength(JNIEnv* env, jstring s) {
  enter(env, "GetStringUTFLength");
  return (jsize)utf16ToModifiedUtf8(need(s, Kind::String, "GetStringUTFLength")->text).size();
}

std::set<const void*>& outstanding() {
  static auto* s = new std::set<const void*>;
  return *s;
}

const jchar* JNICALL GetStringChars(JNIEnv* env, jstring s, jboolean* isCopy) {
  enter(env, "GetStringChars");
  const std::u16string& text = need(s, Kind::String, "GetStringChars")->text;
  jchar* copy = new jchar[text.size() + 1];
  memcpy(copy, text.data(), text.size() * sizeof(jchar));
  copy[text.size()] = 0;
  if (isCopy) *isCopy = JNI_TRUE;
  HeapLock lock;
  outstanding().insert(copy);
  return copy;
}

void JNICALL ReleaseStringChars(JNIEnv* env, jstring s, const jchar* chars) {
  threadOf(env);
  need(s, Kind::String, "ReleaseStringChars");
  {
    HeapLock lock;
    if (outstanding().erase(chars) != 1) fail(98, "ReleaseStringChars of a buffer not handed out");
  }
  delete[] chars;
}

const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring s, jboolean* isCopy) {
  enter(env, "GetStringUTFChars");
  std::string utf = utf16ToModifiedUtf8(need(s, Kind::String, "GetStringUTFChars")->text);
  char* copy = new char[utf.size() + 1];
  memcpy(copy, utf.c_str(), utf.size() + 1);
  if (isCopy) *isCopy = JNI_TRUE;
  HeapLock lock;
  outstanding().insert(copy);
  return copy;
}

void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring s, const char* chars) {
  threadOf(env);
  need(s, Kind::String, "ReleaseStringUTFChars");
  {
    HeapLock lock;
    if (outstanding().erase(chars) != 1)
      fail(98, "ReleaseStringUTFChars of a buffer not handed out");
  }
  delete[] chars;
}

void JNICALL GetStringRegion(JNIEnv* env, jstring s, jsize start, jsize len, jchar* buf) {
  enter(env, "GetStringRegion");
  const std::u16string& text = need(s, Kind::String, "GetStringRegion")->text;
  if (start < 0 || len < 0 || (size_t)start + len > text.size()) {
    throwNew(env, "java/lang/StringIndexOutOfBoundsException", "");
    return;
  }
  memcpy(buf, text.data() + start, len * sizeof(jchar));
}

// ---- arrays

jsize JNICALL GetArrayLength(JNIEnv* env, jarray array) {
  enter(env, "GetArrayLength");
  HeapLock lock;
  Object* a = deref(array, "GetArrayLength");
  if (a == nullptr) fail(98, "GetArrayLength: null");
  if (a->kind == Kind::ObjectArray) return (jsize)a->items.size();
  if (a->kind == Kind::ByteArray) return (jsize)a->bytes.size();
  fail(98, "GetArrayLength: not an array");
}

jobjectArray JNICALL NewObjectArray(JNIEnv* env, jsize length, jclass cls, jobject init) {
  enter(env, "NewObjectArray");
  Object* c = need(cls, Kind::Class, "NewObjectArray");
  logLine("newObjectArray %s %ld", c->className.c_str(), (long)length);
  if (length < 0) {
    throwNew(env, "java/lang/NegativeArraySizeException", std::to_string(length));
    return nullptr;
  }
  Object* a = newObject(Kind::ObjectArray, "[L" + c->className + ";");
  Object* first = deref(init, "NewObjectArray");
  a->items.assign(length, first ? newGlobalRef(first) : nullptr);
  return static_cast<jobjectArray>(newLocalRef(a));
}

jobject JNICALL GetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index) {
  enter(env, "GetObjectArrayElement");
  HeapLock lock;
  Object* a = need(array, Kind::ObjectArray, "GetObjectArrayElement");
  if (index < 0 || (size_t)index >= a->items.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", std::to_string(index));
    return nullptr;
  }
  Object* item = deref(a->items[index], "GetObjectArrayElement");
  return item ? newLocalRef(item) : nullptr;
}

void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index, jobject value) {
  enter(env, "SetObjectArrayElement");
  HeapLock lock;
  Object* a = need(array, Kind::ObjectArray, "SetObjectArrayElement");
  if (index < 0 || (size_t)index >= a->items.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", std::to_string(index));
    return;
  }
  Object* v = deref(value, "SetObjectArrayElement");
  a->items[index] = v ? newGlobalRef(v) : nullptr;
}

jbyteArray JNICALL NewByteArray(JNIEnv* env, jsize length) {
  enter(env, "NewByteArray");
  if (length < 0) {
    throwNew(env, "java/lang/NegativeArraySizeException", std::to_string(length));
    return nullptr;
  }
  Object* a = newObject(Kind::ByteArray, "[B");
  a->bytes.assign(length, '\0');
  return static_cast<jbyteArray>(newLocalRef(a));
}

void JNICALL GetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len, jbyte* buf) {
  enter(env, "GetByteArrayRegion");
  HeapLock lock;
  Object* a = need(array, Kind::ByteArray, "GetByteArrayRegion");
  if (start < 0 || len < 0 || (size_t)start + len > a->bytes.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", "");
    return;
  }
  memcpy(buf, a->bytes.data() + start, len);
}

void JNICALL SetByteArrayRegion(JNIEnv* env, jbyteArray array, jsize start, jsize len,
                                const jbyte* buf) {
  enter(env, "SetByteArrayRegion");
  HeapLock lock;
  Object* a = need(array, Kind::ByteArray, "SetByteArrayRegion");
  if (start < 0 || len < 0 || (size_t)start + len > a->bytes.size()) {
    throwNew(env, "java/lang/ArrayIndexOutOfBoundsException", "");
    return;
  }
  memcpy(&a->bytes[start], buf, len);
}

}  // namespace

void installData(JNINativeInterface_& t) {
  t.NewString = NewString;
  t.NewStringUTF = NewStringUTF;
  t.GetStringLength = GetStringLength;
  t.GetStringUTFLength = GetStringUTFLength;
  t.GetStringChars = GetStringChars;
  t.ReleaseStringChars = ReleaseStringChars;
  t.GetStringUTFChars = GetStringUTFChars;
  t.ReleaseStringUTFChars = ReleaseStringUTFChars;
  t.GetStringRegion = GetStringRegion;
  t.GetArrayLength = GetArrayLength;
  t.NewObjectArray = NewObjectArray;
  t.GetObjectArrayElement = GetObjectArrayElement;
  t.SetObjectArrayElement = SetObjectArrayElement;
  t.NewByteArray = NewByteArray;
  t.GetByteArrayRegion = GetByteArrayRegion;
  t.SetByteArrayRegion = SetByteArrayRegion;
}

}  // namespace jvmdouble
