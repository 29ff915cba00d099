// The receiver bridge: turns instance messages into Java calls (objects and
// handed-over command lines to the application's receiver, replies to the
// Instances.Reply the sender registered), and builds the messages the
// Instances natives send.
#pragma once

#include <jni.h>

#include <atomic>
#include <string>
#include <vector>

#include "instances/instance_channel.h"

namespace qlx {

// Answered entries are kept until the table passes this size; then the
// oldest half goes, answered or not.
constexpr size_t kPendingReplyLimit = 2048;
// Objects and command lines that arrive before the application sets its
// receiver (a first instance whose VM is still starting while second
// launches hand over) are kept for it, within these bounds.
constexpr size_t kEarlyMessages = 64;
constexpr size_t kEarlyBytes = 16u << 20;
constexpr uint64_t kEarlyKeepMs = 60000;

class ReceiverBridge : public MessageHandler {
 public:
  explicit ReceiverBridge(InstanceChannel& channel) : channel_(channel) {}

  void onMessage(uint32_t sender, const Bytes& message) override;

  // The natives.
  void setReceiver(JNIEnv* env, jobject receiver);
  void sendObject(JNIEnv* env, int32_t instance, jobject object, jobject reply);
  jobject currentReply(JNIEnv* env);
  void answer(JNIEnv* env, jobject replyImpl, jobject object);

  bool handoverDone() const { return handoverDone_.load(); }
  // A second launch is about to hand its arguments to `target`: the one
  // answer it prints must come from there.
  void awaitHandoverAnswer(uint32_t target) { handoverFrom_.store(target); }
  // The classes accepted in received objects (the pattern text InstanceFilter
  // reads); set before the receiver starts.
  void setFilter(const std::string& filter) { filter_ = filter; }

 private:
  void deliverToReceiver(JNIEnv* env, uint32_t sender, int32_t kind, int32_t replyId,
                         const uint8_t* payload, size_t size);
  void deliverReply(JNIEnv* env, uint32_t sender, int32_t replyId, const uint8_t* payload,
                    size_t size);
  jbyteArray serializeObject(JNIEnv* env, jobject object);
  // Null with `ok` false when the stream is refused or broken; one line on
  // standard error says why.
  jobject deserializeObject(JNIEnv* env, const uint8_t* bytes, size_t size, jobject loader,
                            uint32_t sender, bool& ok);
  jobject filterFor(JNIEnv* env, jobject loader);
  void reportRefused(JNIEnv* env, uint32_t sender);
  void printHandoverAnswer(uint32_t sender, const uint8_t* payload, size_t size);
  void keepEarly(uint32_t sender, const Bytes& message);  // lock_ held
  void setCurrentReply(JNIEnv* env, uint32_t sender, int32_t replyId);
  bool prepareThreadLocal(JNIEnv* env);
  bool prepareReplyClasses(JNIEnv* env);
  Bytes payloadOf(JNIEnv* env, jbyteArray array);

  InstanceChannel& channel_;
  Lock lock_;  // receiver, pending replies, cached classes
  jobject receiver_ = nullptr;
  jmethodID onReceive_ = nullptr;
  jobject loader_ = nullptr;
  std::atomic<jobject> threadLocal_{nullptr};
  jmethodID threadLocalSet_ = nullptr;
  jmethodID threadLocalGet_ = nullptr;
  jclass replyImplClass_ = nullptr;
  jmethodID replyImplInit_ = nullptr;
  jfieldID replyInstance_ = nullptr;  // "p"
  jfieldID replySerial_ = nullptr;    // "s"
  jmethodID replySet_ = nullptr;      // Instances$Reply.set
  std::string filter_;
  jobject filterLoader_ = nullptr;  // an InstanceFilter over filterTarget_
  jobject filterTarget_ = nullptr;
  jmethodID filterRead_ = nullptr;
  jclass byteArrayClass_ = nullptr;
  jclass stringClass_ = nullptr;
  std::atomic<int32_t> nextReplyId_{1};
  std::atomic<bool> handoverDone_{false};
  std::atomic<uint32_t> handoverFrom_{0};  // 0: no answer is awaited
  // A reply counts only from the instance its request went to.
  struct PendingReply {
    int32_t id;
    jobject reply;
    uint32_t target;
  };
  std::vector<PendingReply> pending_;  // ascending reply ids
  struct EarlyMessage {
    uint32_t sender;
    Bytes message;
    uint64_t atMs;
  };
  std::vector<EarlyMessage> early_;  // oldest first
  size_t earlyBytes_ = 0;
};

}  // namespace qlx
