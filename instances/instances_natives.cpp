// The natives of com.tarnwick.qlx.Instances and InstancesReplyImpl: thin
// entries into the process's instance channel and receiver bridge. Without
// a started receiver the instance services are unavailable; only the list
// and setReceiver work then.
#include <jni.h>

#include <vector>

#include "instances/instance_startup.h"
#include "instances/receiver_bridge.h"

namespace {

qlx::InstanceChannel* availableChannel() {
  qlx::InstanceChannel* channel = qlx::instanceChannel();
  return channel != nullptr && channel->receiverStarted() ? channel : nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL Java_com_tarnwick_qlx_Instances_getFirstInstance(JNIEnv*, jclass) {
  qlx::InstanceChannel* channel = availableChannel();
  return channel != nullptr ? static_cast<jint>(channel->ownerId()) : -1;
}

JNIEXPORT jint JNICALL Java_com_tarnwick_qlx_Instances_getCurrentInstance(JNIEnv*, jclass) {
  qlx::InstanceChannel* channel = availableChannel();
  return channel != nullptr ? static_cast<jint>(channel->ownId()) : -1;
}

JNIEXPORT jintArray JNICALL Java_com_tarnwick_qlx_Instances_getInstances(JNIEnv* env, jclass) {
  std::vector<uint32_t> ids;
  if (qlx::InstanceChannel* channel = qlx::instanceChannel()) {
    channel->registry().pruneInstances();
    ids = channel->registry().instances();
  }
  jintArray array = env->NewIntArray(static_cast<jsize>(ids.size()));
  if (array != nullptr && !ids.empty()) {
    std::vector<jint> values(ids.begin(), ids.end());
    env->SetIntArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
  }
  return array;
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_Instances_sendObject(JNIEnv* env, jclass,
                                                                 jint instance, jobject object,
                                                                 jobject reply) {
  if (qlx::ReceiverBridge* bridge = qlx::receiverBridge()) {
    bridge->sendObject(env, instance, object, reply);
  }
}

JNIEXPORT jobject JNICALL Java_com_tarnwick_qlx_Instances_getReply(JNIEnv* env, jclass) {
  qlx::ReceiverBridge* bridge = qlx::receiverBridge();
  return bridge != nullptr ? bridge->currentReply(env) : nullptr;
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_Instances_flush(JNIEnv*, jclass) {
  qlx::InstanceChannel* channel = availableChannel();
  for (int i = 0; channel != nullptr && i < 100 && !channel->queueEmpty(); ++i) {
    qlx::sleepMs(50);
  }
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_Instances_setReceiver(JNIEnv* env, jclass,
                                                                  jobject receiver) {
  if (qlx::ReceiverBridge* bridge = qlx::receiverBridge()) bridge->setReceiver(env, receiver);
}

JNIEXPORT void JNICALL Java_com_tarnwick_qlx_InstancesReplyImpl_set(JNIEnv* env, jobject self,
                                                                   jobject object) {
  if (qlx::ReceiverBridge* bridge = qlx::receiverBridge()) bridge->answer(env, self, object);
}

}  // extern "C"
