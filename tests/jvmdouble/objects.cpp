// The double's object heap: objects live for the process (the double never
// collects), references are separate records so that use of a deleted
// reference is caught, and method and field ids are records too.
#include <deque>
#include <unordered_map>

#include "jvmdouble.h"

namespace jvmdouble {
namespace {

struct Ref {
  Object* object;
  bool global;
  bool live;
};

struct Heap {
  CRITICAL_SECTION lock;
  std::unordered_map<const void*, Ref*> refs;  // every reference ever handed out
  std::deque<Method> methods;
  std::deque<Field> fields;
  Heap() { InitializeCriticalSection(&lock); }
};

Heap& heap() {
  static Heap* h = new Heap;  // never destroyed: natives may run during exit
  return *h;
}

struct Locked {
  Locked() { EnterCriticalSection(&heap().lock); }
  ~Locked() { LeaveCriticalSection(&heap().lock); }
};

jobject newRef(Object* object, bool global) {
  if (object == nullptr) return nullptr;
  Locked lock;
  Ref* ref = new Ref{object, global, true};
  heap().refs[ref] = ref;
  return reinterpret_cast<jobject>(ref);
}

Ref* findRef(jobject ref) {
  Locked lock;
  auto it = heap().refs.find(ref);
  return it == heap().refs.end() ? nullptr : it->second;
}

}  // namespace

HeapLock::HeapLock() { EnterCriticalSection(&heap().lock); }
HeapLock::~HeapLock() { LeaveCriticalSection(&heap().lock); }

Object* newObject(Kind kind, const std::string& className) {
  Object* object = new Object;
  object->kind = kind;
  object->className = className;
  return object;
}

Object* classObject(const std::string& name) {
  static auto* classes = new std::map<std::string, Object*>;
  Locked lock;
  Object*& c = (*classes)[name];
  if (c == nullptr) c = newObject(Kind::Class, name);
  return c;
}

jobject newLocalRef(Object* object) { return newRef(object, false); }
jobject newGlobalRef(Object* object) { return newRef(object, true); }

Object* deref(jobject ref, const char* where) {
  if (ref == nullptr) return nullptr;
  Ref* r = findRef(ref);
  if (r == nullptr) fail(98, "%s: not a reference (%p)", where, (void*)ref);
  if (!r->live) fail(98, "%s: use of a deleted reference (%p)", where, (void*)ref);
  return r->object;
}

void deleteRef(jobject ref, const char* where) {
  if (ref == nullptr) return;
  Ref* r = findRef(ref);
  if (r == nullptr) fail(98, "%s: not a reference (%p)", where, (void*)ref);
  if (!r->live) fail(98, "%s: reference deleted twice (%p)", where, (void*)ref);
  r->live = false;
}

bool isGlobalRef(jobject ref) {
  Ref* r = findRef(ref);
  return r != nullptr && r->global;
}

jstring newString(const std::u16string& text) {
  Object* s = newObject(Kind::String, "java/lang/String");
  s->text = text;
  s->hasText = true;
  return static_cast<jstring>(newLocalRef(s));
}

std::u16string utf8ToUtf16(const std::string& utf8) {
  std::u16string out;
  size_t i = 0;
  while (i < utf8.size()) {
    unsigned char c = utf8[i];
    uint32_t cp = '?';
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      cp = ((c & 0x1F) << 6) | (utf8[i + 1] & 0x3F);
      len = 2;
    } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
      cp = ((c & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F);
      len = 3;
    } else if ((c & 0xF8) == 0xF0 && i + 3 < utf8.size()) {
      cp = ((c & 0x07) << 18) | ((utf8[i + 1] & 0x3F) << 12) | ((utf8[i + 2] & 0x3F) << 6) |
           (utf8[i + 3] & 0x3F);
      len = 4;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += (char16_t)(0xD800 + (cp >> 10));
      out += (char16_t)(0xDC00 + (cp & 0x3FF));
    } else {
      out += (char16_t)cp;
    }
    i += len;
  }
  return out;
}

namespace {
void appendUnit(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += (char)cp;
  } else if (cp < 0x800) {
    out += (char)(0xC0 | (cp >> 6));
    out += (char)(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += (char)(0xE0 | (cp >> 12));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  } else {
    out += (char)(0xF0 | (cp >> 18));
    out += (char)(0x80 | ((cp >> 12) & 0x3F));
    out += (char)(0x80 | ((cp >> 6) & 0x3F));
    out += (char)(0x80 | (cp & 0x3F));
  }
}
}  // namespace

std::string utf16ToUtf8(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    appendUnit(out, cp);
  }
  return out;
}

std::string utf16ToModifiedUtf8(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit == 0) {
      out += "\xC0\x80";
    } else {
      appendUnit(out, unit);
    }
  }
  return out;
}

std::string utf16ToAnsi(const std::u16string& text) {
  if (text.empty()) return std::string();
  const wchar_t* wide = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, (int)text.size(), nullptr, 0, nullptr, nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, (int)text.size(), &out[0], n, nullptr, nullptr);
  return out;
}

std::string dotted(const std::string& className) {
  std::string out = className;
  for (char& c : out) {
    if (c == '/') c = '.';
  }
  return out;
}

jmethodID newMethodId(const Method& m) {
  Locked lock;
  for (Method& known : heap().methods) {
    if (known.className == m.className && known.name == m.name && known.signature == m.signature &&
        known.isStatic == m.isStatic) {
      return reinterpret_cast<jmethodID>(&known);
    }
  }
  heap().methods.push_back(m);
  return reinterpret_cast<jmethodID>(&heap().methods.back());
}

const Method* method(jmethodID id, const char* where) {
  Locked lock;
  for (const Method& m : heap().methods) {
    if (reinterpret_cast<jmethodID>(const_cast<Method*>(&m)) == id) return &m;
  }
  fail(98, "%s: not a method id (%p)", where, (void*)id);
}

jfieldID newFieldId(const Field& f) {
  Locked lock;
  for (Field& known : heap().fields) {
    if (known.className == f.className && known.name == f.name && known.signature == f.signature &&
        known.isStatic == f.isStatic) {
      return reinterpret_cast<jfieldID>(&known);
    }
  }
  heap().fields.push_back(f);
  return reinterpret_cast<jfieldID>(&heap().fields.back());
}

const Field* field(jfieldID id, const char* where) {
  Locked lock;
  for (const Field& f : heap().fields) {
    if (reinterpret_cast<jfieldID>(const_cast<Field*>(&f)) == id) return &f;
  }
  fail(98, "%s: not a field id (%p)", where, (void*)id);
}

}  // namespace jvmdouble
