#pragma once

#include <cstdint>

namespace orbisan {

class IIPParams;

// Command types of a work item.
enum PtzCommandType : int32_t {
  kPtzCommandMove = 1,
  kPtzCommandFocus = 2,
  kPtzCommandIris = 3,
  kPtzCommandStop = 4,
  kPtzCommandAreaZoom = 5,
  kPtzCommandCenter = 6,
  kPtzCommandUnzoom = 7,
};

// Actions within a command type.
enum PtzAction : uint32_t {
  kPtzActionNone = 0,
  kPtzActionFocusFar = 1,
  kPtzActionFocusNear = 2,
  kPtzActionIrisOpen = 3,
  kPtzActionIrisClose = 4,
  kPtzActionStopMoving = 5,
  kPtzActionStopZooming = 6,
  kPtzActionStopFocusing = 7,
  kPtzActionStopIris = 8,
};

// One PTZ command waiting for the worker thread; owned by the queue.
class CWorkItem {
 public:
  CWorkItem(int32_t commandType_, uint32_t action_, IIPParams* params_)
      : commandType(commandType_), action(action_), params(params_) {}
  virtual ~CWorkItem() = default;

  int32_t commandType;
  uint32_t action;
  IIPParams* params;  // not owned
  uint32_t value1 = 0;
  uint32_t value2 = 0;
  uint32_t value3 = 0;
  uint32_t value4 = 0;
};

}  // namespace orbisan
