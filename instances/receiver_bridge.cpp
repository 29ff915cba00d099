// The receiver bridge's Java side. Deliveries run on the receiver thread,
// attached to the VM as a daemon for one message at a time; every local
// reference lives in a frame popped before the thread detaches.
#include "instances/receiver_bridge.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "launcher/text.h"
#include "launcher/trace.h"
#include "vm/jni_glue.h"
#include "vm/vm_host.h"

namespace qlx {

namespace {

constexpr jint kFrame = 32;
// A serialisation stream holding only null: the answer to a refused object,
// so that its sender is not left waiting.
constexpr uint8_t kNullStream[] = {0xAC, 0xED, 0x00, 0x05, 0x70};

// The loader of the receiver's class; a VM whose Class lacks getClassLoader
// gets the system class loader, which holds the application's classes.
jobject classLoaderOf(JNIEnv* env, jclass cls) {
  jobject loader = nullptr;
  jclass classClass = env->GetObjectClass(cls);
  jmethodID getLoader = env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;");
  if (getLoader != nullptr) {
    loader = env->CallObjectMethod(cls, getLoader);
    if (checkException(env, true)) loader = nullptr;
  }
  env->DeleteLocalRef(classClass);
  checkException(env, false);
  if (loader != nullptr) return loader;
  jclass loaderClass = env->FindClass("java/lang/ClassLoader");
  jmethodID system = loaderClass != nullptr ? env->GetStaticMethodID(loaderClass, "getSystemClassLoader",
                                                                      "()Ljava/lang/ClassLoader;")
                                            : nullptr;
  if (system != nullptr) loader = env->CallStaticObjectMethod(loaderClass, system);
  if (checkException(env, false)) loader = nullptr;
  if (loaderClass != nullptr) env->DeleteLocalRef(loaderClass);
  return loader;
}

template <typename Entry>
typename std::vector<Entry>::iterator findPending(std::vector<Entry>& table, int32_t id) {
  auto at = std::lower_bound(table.begin(), table.end(), id,
                             [](const Entry& entry, int32_t key) { return entry.id < key; });
  return at != table.end() && at->id == id ? at : table.end();
}

// A Java text that came from another process (a class name, an exception's
// description), as one harmless line of the log.
std::string logText(JNIEnv* env, jstring text) {
  const jsize length = env->GetStringLength(text);
  const jchar* chars = env->GetStringChars(text, nullptr);
  if (chars == nullptr) {
    checkException(env, false);
    return "?";
  }
  const std::vector<uint16_t> safe =
      escapedForLog(reinterpret_cast<const uint16_t*>(chars), static_cast<size_t>(length));
  env->ReleaseStringChars(text, chars);
  jstring escaped = env->NewString(reinterpret_cast<const jchar*>(safe.data()),
                                   static_cast<jsize>(safe.size()));
  if (escaped == nullptr) {
    checkException(env, false);
    return "?";
  }
  std::string result = toNativeString(env, escaped);
  env->DeleteLocalRef(escaped);
  return result;
}

jobject newLocal(JNIEnv* env, jobject global) {
  return global != nullptr ? env->NewLocalRef(global) : nullptr;
}

}  // namespace

void ReceiverBridge::onMessage(uint32_t sender, const Bytes& message) {
  int32_t kind = 0, replyId = 0;
  if (!readHeader(message, kind, replyId)) return;
  const uint8_t* payload = message.data() + kMessageHeaderSize;
  const size_t size = message.size() - kMessageHeaderSize;

  if (kind == kKindReply && replyId == 0) {
    printHandoverAnswer(sender, payload, size);
    return;
  }
  if (kind != kKindObject && kind != kKindArguments && kind != kKindReply) return;
  {
    LockGuard guard(lock_);
    if (kind == kKindReply) {
      auto entry = findPending(pending_, replyId);
      if (entry == pending_.end() || entry->reply == nullptr || entry->target != sender) return;
    } else if (receiver_ == nullptr || onReceive_ == nullptr) {
      keepEarly(sender, message);  // for the receiver the application has yet to set
      return;
    }
  }
  VmThreadScope attachment(runningJavaVm(), true);
  JNIEnv* env = attachment.env();
  if (env == nullptr || env->PushLocalFrame(kFrame) != 0) return;
  if (kind == kKindReply) {
    deliverReply(env, sender, replyId, payload, size);
  } else {
    deliverToReceiver(env, sender, kind, replyId, payload, size);
  }
  checkException(env, true);
  env->PopLocalFrame(nullptr);
}

void ReceiverBridge::keepEarly(uint32_t sender, const Bytes& message) {
  const uint64_t now = monotonicMs();
  early_.push_back(EarlyMessage{sender, message, now});
  earlyBytes_ += message.size();
  size_t dropped = 0;
  while (dropped < early_.size() &&
         (early_.size() - dropped > kEarlyMessages || earlyBytes_ > kEarlyBytes ||
          now - early_[dropped].atMs > kEarlyKeepMs)) {
    earlyBytes_ -= early_[dropped++].message.size();
  }
  early_.erase(early_.begin(), early_.begin() + static_cast<std::ptrdiff_t>(dropped));
}

void ReceiverBridge::printHandoverAnswer(uint32_t sender, const uint8_t* payload, size_t size) {
  // Only the one answer this launch waits for, from the instance it handed
  // its arguments to: any process of the user can post a reply.
  uint32_t expected = handoverFrom_.load();
  if (expected == 0 || expected != sender || !handoverFrom_.compare_exchange_strong(expected, 0)) {
    return;
  }
  const std::string text = printableAnswer(payload, size);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  handoverDone_.store(true);
}

void ReceiverBridge::deliverToReceiver(JNIEnv* env, uint32_t sender, int32_t kind,
                                       int32_t replyId, const uint8_t* payload, size_t size) {
  jobject receiver, loader;
  jmethodID onReceive;
  {
    LockGuard guard(lock_);
    receiver = newLocal(env, receiver_);
    loader = newLocal(env, loader_);
    onReceive = onReceive_;
  }
  if (receiver == nullptr || onReceive == nullptr) return;
  setContextClassLoader(env, loader);
  jobject value = nullptr;
  if (kind == kKindObject) {
    bool ok = false;
    value = deserializeObject(env, payload, size, loader, sender, ok);
    if (!ok) {
      if (replyId != 0) {
        channel_.post(sender, buildMessage(kKindReply, replyId, kNullStream, sizeof(kNullStream)));
      }
      return;
    }
  } else {
    StringList arguments;
    if (!parseArguments(payload, size, arguments)) return;  // runs past its end: dropped
    std::vector<const char*> pointers;
    for (const std::string& argument : arguments) pointers.push_back(argument.c_str());
    value = buildStringArray(env, static_cast<int>(pointers.size()), pointers.data(), 0, nullptr,
                             0, nullptr);
  }
  if (value == nullptr) return;
  setCurrentReply(env, sender, replyId);
  env->CallVoidMethod(receiver, onReceive, static_cast<jint>(sender), value);
  checkException(env, true);
}

void ReceiverBridge::deliverReply(JNIEnv* env, uint32_t sender, int32_t replyId,
                                  const uint8_t* payload, size_t size) {
  jobject reply, loader;
  jmethodID set;
  {
    LockGuard guard(lock_);
    auto entry = findPending(pending_, replyId);
    if (entry == pending_.end() || entry->reply == nullptr || replySet_ == nullptr) return;
    reply = env->NewLocalRef(entry->reply);
    loader = newLocal(env, loader_);
    set = replySet_;
  }
  if (loader != nullptr) setContextClassLoader(env, loader);
  bool ok = false;
  jobject value = deserializeObject(env, payload, size, loader, sender, ok);
  if (!ok) return;
  env->CallVoidMethod(reply, set, value);
  checkException(env, true);

  std::vector<jobject> released;
  {
    LockGuard guard(lock_);
    auto entry = findPending(pending_, replyId);
    if (entry != pending_.end() && entry->reply != nullptr) {
      released.push_back(entry->reply);
      entry->reply = nullptr;
    }
    if (pending_.size() > kPendingReplyLimit) {
      // The oldest half goes unanswered; of the rest only waiting entries stay.
      std::vector<PendingReply> kept;
      for (size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].reply == nullptr) continue;
        if (i < kPendingReplyLimit / 2) {
          released.push_back(pending_[i].reply);
        } else {
          kept.push_back(pending_[i]);
        }
      }
      pending_.swap(kept);
    }
  }
  for (jobject global : released) env->DeleteGlobalRef(global);
}

void ReceiverBridge::setReceiver(JNIEnv* env, jobject receiver) {
  jobject global = nullptr, loaderGlobal = nullptr;
  jmethodID onReceive = nullptr;
  if (receiver != nullptr) {
    jclass cls = env->GetObjectClass(receiver);
    onReceive = env->GetMethodID(cls, "onReceive", "(ILjava/io/Serializable;)V");
    checkException(env, false);
    jobject loader = classLoaderOf(env, cls);
    if (loader != nullptr) {
      loaderGlobal = env->NewGlobalRef(loader);
      env->DeleteLocalRef(loader);
    }
    global = env->NewGlobalRef(receiver);
    env->DeleteLocalRef(cls);
  }
  jobject oldReceiver, oldLoader = nullptr;
  std::vector<EarlyMessage> early;
  {
    LockGuard guard(lock_);
    oldReceiver = receiver_;
    receiver_ = global;
    onReceive_ = onReceive;
    // No receiver: incoming objects are kept for a while; the loader stays
    // for replies.
    if (receiver != nullptr) {
      oldLoader = loader_;
      loader_ = loaderGlobal;
      early.swap(early_);
      earlyBytes_ = 0;
    }
  }
  if (oldReceiver != nullptr) env->DeleteGlobalRef(oldReceiver);
  if (oldLoader != nullptr) env->DeleteGlobalRef(oldLoader);
  for (EarlyMessage& kept : early) channel_.redeliver(kept.sender, std::move(kept.message));
}

void ReceiverBridge::sendObject(JNIEnv* env, int32_t instance, jobject object, jobject reply) {
  if (!channel_.receiverStarted()) return;
  const int32_t id = nextReplyId_.fetch_add(1);
  const uint32_t target = instance != 0 ? static_cast<uint32_t>(instance) : channel_.ownerId();
  if (reply != nullptr) {
    jmethodID set = nullptr;
    jclass replyInterface = env->FindClass("com/tarnwick/qlx/Instances$Reply");
    if (replyInterface != nullptr) {
      set = env->GetMethodID(replyInterface, "set", "(Ljava/io/Serializable;)V");
      env->DeleteLocalRef(replyInterface);
    }
    checkException(env, false);
    jobject global = env->NewGlobalRef(reply);
    LockGuard guard(lock_);
    if (replySet_ == nullptr) replySet_ = set;
    auto at = std::upper_bound(pending_.begin(), pending_.end(), id,
                               [](int32_t key, const PendingReply& entry) { return key < entry.id; });
    pending_.insert(at, PendingReply{id, global, target});
  }
  jbyteArray serialized = serializeObject(env, object);
  if (serialized == nullptr) return;  // printed; any reply stays pending
  const Bytes payload = payloadOf(env, serialized);
  env->DeleteLocalRef(serialized);
  channel_.post(target, buildMessage(kKindObject, id, payload.data(), payload.size()));
}

jobject ReceiverBridge::currentReply(JNIEnv* env) {
  jobject threadLocal = threadLocal_.load();
  if (threadLocal == nullptr) return nullptr;
  jobject reply = env->CallObjectMethod(threadLocal, threadLocalGet_);
  if (checkException(env, false)) return nullptr;
  return reply;
}

void ReceiverBridge::answer(JNIEnv* env, jobject replyImpl, jobject object) {
  if (!channel_.receiverStarted() || !prepareReplyClasses(env)) return;
  jclass cls = env->GetObjectClass(replyImpl);
  jfieldID instanceField = env->GetFieldID(cls, "p", "J");
  jfieldID serialField = instanceField != nullptr ? env->GetFieldID(cls, "s", "J") : nullptr;
  env->DeleteLocalRef(cls);
  if (serialField == nullptr) {
    checkException(env, false);
    return;
  }
  const uint32_t target = static_cast<uint32_t>(env->GetLongField(replyImpl, instanceField));
  const int32_t serial = static_cast<int32_t>(env->GetLongField(replyImpl, serialField));
  Bytes payload;
  if (serial == 0 && object == nullptr) {
    // Nothing to print.
  } else if (serial == 0 && env->IsInstanceOf(object, byteArrayClass_)) {
    payload = payloadOf(env, static_cast<jbyteArray>(object));
  } else if (serial == 0 && env->IsInstanceOf(object, stringClass_)) {
    const std::string text = toNativeString(env, static_cast<jstring>(object));
    payload.assign(text.begin(), text.end());
  } else {
    jbyteArray serialized = serializeObject(env, object);
    if (serialized == nullptr) return;
    payload = payloadOf(env, serialized);
    env->DeleteLocalRef(serialized);
  }
  channel_.post(target, buildMessage(kKindReply, serial, payload.data(), payload.size()));
}

bool ReceiverBridge::prepareReplyClasses(JNIEnv* env) {
  LockGuard guard(lock_);
  if (byteArrayClass_ != nullptr && stringClass_ != nullptr) return true;
  jclass bytes = env->FindClass("[B");
  jclass strings = bytes != nullptr ? env->FindClass("java/lang/String") : nullptr;
  if (strings == nullptr) {
    checkException(env, false);
    if (bytes != nullptr) env->DeleteLocalRef(bytes);
    return false;
  }
  byteArrayClass_ = static_cast<jclass>(env->NewGlobalRef(bytes));
  stringClass_ = static_cast<jclass>(env->NewGlobalRef(strings));
  env->DeleteLocalRef(bytes);
  env->DeleteLocalRef(strings);
  return true;
}

Bytes ReceiverBridge::payloadOf(JNIEnv* env, jbyteArray array) {
  const jsize length = env->GetArrayLength(array);
  Bytes bytes(static_cast<size_t>(length));
  if (length > 0) env->GetByteArrayRegion(array, 0, length, reinterpret_cast<jbyte*>(bytes.data()));
  return bytes;
}

jbyteArray ReceiverBridge::serializeObject(JNIEnv* env, jobject object) {
  if (env->PushLocalFrame(kFrame) != 0) return nullptr;
  jbyteArray result = nullptr;
  jclass bufferClass = env->FindClass("java/io/ByteArrayOutputStream");
  jclass streamClass = bufferClass != nullptr ? env->FindClass("java/io/ObjectOutputStream") : nullptr;
  jmethodID bufferInit = streamClass != nullptr ? env->GetMethodID(bufferClass, "<init>", "()V") : nullptr;
  jmethodID streamInit = bufferInit != nullptr
                             ? env->GetMethodID(streamClass, "<init>", "(Ljava/io/OutputStream;)V")
                             : nullptr;
  jmethodID write = streamInit != nullptr
                        ? env->GetMethodID(streamClass, "writeObject", "(Ljava/lang/Object;)V")
                        : nullptr;
  jmethodID close = write != nullptr ? env->GetMethodID(streamClass, "close", "()V") : nullptr;
  jmethodID toArray = close != nullptr ? env->GetMethodID(bufferClass, "toByteArray", "()[B") : nullptr;
  if (toArray != nullptr) {
    jobject buffer = env->NewObject(bufferClass, bufferInit);
    jobject stream = buffer != nullptr ? env->NewObject(streamClass, streamInit, buffer) : nullptr;
    if (stream != nullptr) {
      env->CallVoidMethod(stream, write, object);
      const bool failed = checkException(env, true);
      env->CallVoidMethod(stream, close);
      if (!checkException(env, true) && !failed) {
        result = static_cast<jbyteArray>(env->CallObjectMethod(buffer, toArray));
        if (checkException(env, true)) result = nullptr;
      }
    }
  }
  checkException(env, true);
  return static_cast<jbyteArray>(env->PopLocalFrame(result));
}

jobject ReceiverBridge::deserializeObject(JNIEnv* env, const uint8_t* bytes, size_t size,
                                          jobject loader, uint32_t sender, bool& ok) {
  ok = false;
  if (env->PushLocalFrame(kFrame) != 0) return nullptr;
  jobject result = nullptr;
  jobject filter = filterFor(env, loader);
  jbyteArray array = filter != nullptr ? env->NewByteArray(static_cast<jsize>(size)) : nullptr;
  if (array != nullptr) {
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(size), reinterpret_cast<const jbyte*>(bytes));
    result = env->CallObjectMethod(filter, filterRead_, array);
    ok = !env->ExceptionCheck();
  }
  if (!ok) {
    reportRefused(env, sender);
    result = nullptr;
  }
  return env->PopLocalFrame(result);
}

jobject ReceiverBridge::filterFor(JNIEnv* env, jobject loader) {
  LockGuard guard(lock_);
  if (filterLoader_ != nullptr && env->IsSameObject(filterTarget_, loader)) {
    return env->NewLocalRef(filterLoader_);
  }
  jclass cls = env->FindClass("com/tarnwick/qlx/InstanceFilter");
  if (cls == nullptr) return nullptr;
  jmethodID init = env->GetMethodID(cls, "<init>", "(Ljava/lang/ClassLoader;Ljava/lang/String;)V");
  jmethodID read = init != nullptr ? env->GetMethodID(cls, "read", "([B)Ljava/lang/Object;") : nullptr;
  jstring text = read != nullptr ? env->NewStringUTF(filter_.c_str()) : nullptr;
  jobject made = text != nullptr ? env->NewObject(cls, init, loader, text) : nullptr;
  if (made == nullptr) return nullptr;  // a bad pattern: every object is refused, each with its line
  if (filterLoader_ != nullptr) env->DeleteGlobalRef(filterLoader_);
  if (filterTarget_ != nullptr) env->DeleteGlobalRef(filterTarget_);
  filterLoader_ = env->NewGlobalRef(made);
  filterTarget_ = loader != nullptr ? env->NewGlobalRef(loader) : nullptr;
  filterRead_ = read;
  return made;
}

void ReceiverBridge::reportRefused(JNIEnv* env, uint32_t sender) {
  jthrowable failure = env->ExceptionOccurred();
  env->ExceptionClear();
  std::string why = "the object could not be read";
  if (failure != nullptr) {
    jclass cls = env->GetObjectClass(failure);
    jmethodID toString = env->GetMethodID(cls, "toString", "()Ljava/lang/String;");
    jstring text = toString != nullptr
                       ? static_cast<jstring>(env->CallObjectMethod(failure, toString))
                       : nullptr;
    if (!checkException(env, false) && text != nullptr) why = logText(env, text);
    env->DeleteLocalRef(failure);
  }
  const std::string line =
      "Instance message from " + decimalText(sender) + " dropped: " + why + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

bool ReceiverBridge::prepareThreadLocal(JNIEnv* env) {
  if (threadLocal_.load() != nullptr) return true;
  // Made on first use, on a delivery thread; a second one may be started
  // while the first is still inside its first delivery.
  LockGuard guard(lock_);
  if (threadLocal_.load() != nullptr) return true;
  jclass threadLocalClass = env->FindClass("java/lang/ThreadLocal");
  jclass implClass =
      threadLocalClass != nullptr ? env->FindClass("com/tarnwick/qlx/InstancesReplyImpl") : nullptr;
  if (implClass == nullptr) {
    checkException(env, true);
    return false;
  }
  jmethodID init = env->GetMethodID(threadLocalClass, "<init>", "()V");
  threadLocalSet_ = env->GetMethodID(threadLocalClass, "set", "(Ljava/lang/Object;)V");
  threadLocalGet_ = env->GetMethodID(threadLocalClass, "get", "()Ljava/lang/Object;");
  replyImplInit_ = env->GetMethodID(implClass, "<init>", "()V");
  replyInstance_ = env->GetFieldID(implClass, "p", "J");
  replySerial_ = env->GetFieldID(implClass, "s", "J");
  if (checkException(env, true) || init == nullptr || replySerial_ == nullptr) return false;
  jobject local = env->NewObject(threadLocalClass, init);
  if (local == nullptr) return false;
  replyImplClass_ = static_cast<jclass>(env->NewGlobalRef(implClass));
  threadLocal_.store(env->NewGlobalRef(local));
  return true;
}

void ReceiverBridge::setCurrentReply(JNIEnv* env, uint32_t sender, int32_t replyId) {
  if (!prepareThreadLocal(env)) return;
  jobject reply = env->NewObject(replyImplClass_, replyImplInit_);
  if (reply == nullptr) {
    checkException(env, true);
    return;
  }
  env->SetLongField(reply, replyInstance_, static_cast<jlong>(sender));
  env->SetLongField(reply, replySerial_, static_cast<jlong>(replyId));
  env->CallVoidMethod(threadLocal_.load(), threadLocalSet_, reply);
  checkException(env, true);
  env->DeleteLocalRef(reply);
}

}  // namespace qlx
