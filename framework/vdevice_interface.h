// Root of every device: identity and the default behaviours. The host and the plug-in are
// built from this header, so the order of the virtual operations below is a binary contract.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

class VDeviceInterface {
 public:
  // Throws until a device with readable values overrides it; a device of this plug-in never does.
  virtual float Get_Value(unsigned int /*index*/, const std::string& /*key*/) const {
    throw std::out_of_range(kNotReady);
  }

  // The string is a byte buffer (a cached record), not text. Its length goes on as an int; a
  // string too long for that is refused, where the conversion would wrap its length (on a
  // 64-bit host 2^32 + 15 bytes would pass for a whole record).
  virtual bool LoadFromCache(const std::string& bytes) {
    if (!FitsCacheLength(bytes.size())) return false;
    return LoadFromCache(reinterpret_cast<const unsigned char*>(bytes.data()),
                         static_cast<int>(bytes.size()));
  }
  virtual bool LoadFromCache(const unsigned char* data, int length) = 0;

  virtual std::uint32_t DataId() const { return data_id_; }
  virtual const std::string& DeviceType() const { return device_type_; }

  // Touches none of its arguments: the out-parameter keeps what the caller put there.
  virtual int DeviceIoControl(int /*code*/, const void* /*in*/, int /*in_size*/, void* /*out*/,
                              int /*out_size*/, int& /*returned*/) {
    return -2;
  }

  virtual void RoundDone() {}
  virtual bool UseControllerDb() { return use_controller_db_; }

  // True when a cached buffer of `size` bytes can be handed on with its length as an int.
  static constexpr bool FitsCacheLength(std::size_t size) {
    return size <= static_cast<std::size_t>(INT_MAX);
  }

  std::uint32_t data_id_ = 0;
  std::string device_type_;
  bool use_controller_db_ = false;

 protected:
  VDeviceInterface() = default;
  // Not virtual: the virtual destructor enters the chain at DranVDevice. Protected so that
  // nobody can delete a device through this interface.
  ~VDeviceInterface() = default;

 private:
  static constexpr const char* kNotReady = "数据未就绪";
};
