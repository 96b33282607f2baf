#pragma once

#include "edge/edge_storage_task_item.h"
#include "runtime/queue_thread.h"

namespace orbisan {

// The work queue of an edge storage handler: each item goes to the owner's
// ProcessEdgeStorageTaskItem on the queue's thread.
template <typename THandler>
class TEdgeStorageQueueHandler : public CQueueThread<CEdgeStorageTaskItem> {
 public:
  TEdgeStorageQueueHandler(THandler* owner, IDebugMessage* log)
      : CQueueThread<CEdgeStorageTaskItem>(log), handler_(owner) {}
  ~TEdgeStorageQueueHandler() override { Stop(); }

  // The stop event as the item handler waits on it.
  CManualEvent& QueueStopEvent() { return StopEvent(); }

 protected:
  void HandleItem(CEdgeStorageTaskItem* item) override { handler_->ProcessEdgeStorageTaskItem(item); }

 private:
  THandler* handler_;
};

}  // namespace orbisan
