#pragma once

// A worker paused for as long as the object lives, then returned to the state it was in
// (a worker the user had paused stays paused).

#include "engine/DHilo.h"

class TPausa {
 public:
  explicit TPausa(TDHilo* worker) : worker_(worker), antes_(worker->Suspended()) { worker_->Suspend(); }
  ~TPausa() {
    if (!antes_) worker_->Resume();
  }
  TPausa(const TPausa&) = delete;
  TPausa& operator=(const TPausa&) = delete;

 private:
  TDHilo* worker_;
  bool antes_;
};
