// Root of every device factory a plug-in hands to the daemon. The daemon holds providers in
// shared pointers and destroys them through this virtual destructor.
#pragma once

class Provider {
 public:
  virtual ~Provider() {}
};
