#include "cdr_sertype.hpp"

#include <dds/ddsi/q_radmin.h>

#include <cstring>
#include <new>

namespace rclcdds
{
namespace detail
{

namespace
{

CdrSerdata * new_serdata(const ddsi_sertype * type, ddsi_serdata_kind kind)
{
  auto * d = new CdrSerdata();
  ddsi_serdata_init(d, type, kind);
  return d;
}

const CdrSerdata * as_cdr(const ddsi_serdata * d)
{
  return static_cast<const CdrSerdata *>(d);
}

/// Room for `size` bytes plus zeroed padding to a multiple of 4 (DDSI may read up to it).
void prepare(CdrSerdata * d, size_t size)
{
  const size_t padded = (size + 3) & ~static_cast<size_t>(3);
  d->payload.resize(padded);
  std::memset(d->payload.data() + size, 0, padded - size);
  d->payload.resize(size);
}

// --- serdata operations -------------------------------------------------------------------

bool serdata_eqkey(const ddsi_serdata *, const ddsi_serdata *)
{
  return true;  // keyless: one instance
}

uint32_t serdata_size(const ddsi_serdata * d)
{
  return static_cast<uint32_t>(as_cdr(d)->payload.size());
}

ddsi_serdata * serdata_from_ser(
  const ddsi_sertype * type, ddsi_serdata_kind kind, const nn_rdata * fragchain, size_t size)
{
  CdrSerdata * d = new (std::nothrow) CdrSerdata();
  if (d == nullptr) {
    return nullptr;
  }
  ddsi_serdata_init(d, type, kind);
  prepare(d, size);
  uint8_t * dst = d->payload.data();
  uint32_t off = 0;
  for (; fragchain != nullptr; fragchain = fragchain->nextfrag) {
    if (fragchain->maxp1 <= off) {
      continue;  // overlapping fragment that adds nothing
    }
    const unsigned char * payload =
      NN_RMSG_PAYLOADOFF(fragchain->rmsg, NN_RDATA_PAYLOAD_OFF(fragchain));
    const uint32_t end = fragchain->maxp1 > size ? static_cast<uint32_t>(size) : fragchain->maxp1;
    if (end > off) {
      std::memcpy(dst + off, payload + off - fragchain->min, end - off);
      off = end;
    }
  }
  return d;
}

ddsi_serdata * serdata_from_ser_iov(
  const ddsi_sertype * type, ddsi_serdata_kind kind, ddsrt_msg_iovlen_t niov,
  const ddsrt_iovec_t * iov, size_t size)
{
  CdrSerdata * d = new_serdata(type, kind);
  prepare(d, size);
  size_t off = 0;
  for (ddsrt_msg_iovlen_t i = 0; i < niov && off < size; ++i) {
    const size_t n = iov[i].iov_len < size - off ? iov[i].iov_len : size - off;
    std::memcpy(d->payload.data() + off, iov[i].iov_base, n);
    off += n;
  }
  return d;
}

ddsi_serdata * serdata_from_keyhash(const ddsi_sertype * type, const ddsi_keyhash *)
{
  return new_serdata(type, SDK_KEY);
}

// Samples of this type are SerializedMessage objects (only used by dds_write/dds_take, which
// rclcdds does not call; writecdr/takecdr move serdata directly).
ddsi_serdata * serdata_from_sample(
  const ddsi_sertype * type, ddsi_serdata_kind kind, const void * sample)
{
  CdrSerdata * d = new_serdata(type, kind);
  if (kind == SDK_DATA) {
    const auto * msg = static_cast<const SerializedMessage *>(sample);
    prepare(d, msg->size());
    if (msg->size() > 0) {
      std::memcpy(d->payload.data(), msg->data(), msg->size());
    }
  }
  return d;
}

void serdata_to_ser(const ddsi_serdata * d, size_t off, size_t sz, void * buf)
{
  std::memcpy(buf, as_cdr(d)->payload.data() + off, sz);
}

ddsi_serdata * serdata_to_ser_ref(
  const ddsi_serdata * d, size_t off, size_t sz, ddsrt_iovec_t * ref)
{
  ref->iov_base = const_cast<uint8_t *>(as_cdr(d)->payload.data()) + off;
  ref->iov_len = static_cast<ddsrt_iov_len_t>(sz);
  return ddsi_serdata_ref(d);
}

void serdata_to_ser_unref(ddsi_serdata * d, const ddsrt_iovec_t *)
{
  ddsi_serdata_unref(d);
}

bool serdata_to_sample(const ddsi_serdata * d, void * sample, void **, void *)
{
  if (d->kind == SDK_DATA) {
    auto * msg = static_cast<SerializedMessage *>(sample);
    msg->assign(as_cdr(d)->payload.data(), as_cdr(d)->payload.size());
  }
  return true;
}

ddsi_serdata * serdata_to_untyped(const ddsi_serdata * d)
{
  CdrSerdata * untyped = new_serdata(d->type, SDK_KEY);
  untyped->type = nullptr;
  return untyped;
}

bool serdata_untyped_to_sample(
  const ddsi_sertype *, const ddsi_serdata *, void *, void **, void *)
{
  return true;  // keyless: no key fields to fill
}

void serdata_free(ddsi_serdata * d)
{
  delete static_cast<CdrSerdata *>(d);
}

size_t serdata_print(
  const ddsi_sertype *, const ddsi_serdata * d, char * buf, size_t size)
{
  return static_cast<size_t>(
    std::snprintf(buf, size, "<%zu CDR bytes>", as_cdr(d)->payload.size()));
}

void serdata_get_keyhash(const ddsi_serdata *, ddsi_keyhash * buf, bool)
{
  std::memset(buf, 0, sizeof(*buf));
}

const ddsi_serdata_ops kSerdataOps = {
  serdata_eqkey,
  serdata_size,
  serdata_from_ser,
  serdata_from_ser_iov,
  serdata_from_keyhash,
  serdata_from_sample,
  serdata_to_ser,
  serdata_to_ser_ref,
  serdata_to_ser_unref,
  serdata_to_sample,
  serdata_to_untyped,
  serdata_untyped_to_sample,
  serdata_free,
  serdata_print,
  serdata_get_keyhash,
#ifdef DDS_HAS_SHM
  nullptr,  // get_sample_size: shared memory is not used
  nullptr,  // from_iox_buffer
#endif
};

// --- sertype operations -------------------------------------------------------------------

void sertype_free(ddsi_sertype * type)
{
  ddsi_sertype_fini(type);
  delete static_cast<CdrSertype *>(type);
}

void sertype_zero_samples(const ddsi_sertype *, void * samples, size_t count)
{
  auto * msgs = static_cast<SerializedMessage *>(samples);
  for (size_t i = 0; i < count; ++i) {
    msgs[i].clear();
  }
}

// Sample arrays are new[]-allocated SerializedMessage arrays.
void sertype_realloc_samples(
  void ** ptrs, const ddsi_sertype *, void * old, size_t oldcount, size_t count)
{
  auto * grown = new SerializedMessage[count];
  auto * previous = static_cast<SerializedMessage *>(old);
  for (size_t i = 0; i < oldcount && i < count; ++i) {
    grown[i] = std::move(previous[i]);
  }
  delete[] previous;
  for (size_t i = 0; i < count; ++i) {
    ptrs[i] = &grown[i];
  }
}

void sertype_free_samples(const ddsi_sertype *, void ** ptrs, size_t count, dds_free_op_t op)
{
  if (count == 0 || ptrs == nullptr || ptrs[0] == nullptr) {
    return;
  }
  if (op & DDS_FREE_ALL_BIT) {
    delete[] static_cast<SerializedMessage *>(ptrs[0]);
  } else if (op & DDS_FREE_CONTENTS_BIT) {
    for (size_t i = 0; i < count; ++i) {
      *static_cast<SerializedMessage *>(ptrs[i]) = SerializedMessage();
    }
  }
}

bool sertype_equal(const ddsi_sertype *, const ddsi_sertype *)
{
  return true;  // Cyclone has already compared names, ops and keyedness
}

uint32_t sertype_hash(const ddsi_sertype *)
{
  return 0;
}

size_t sertype_get_serialized_size(const ddsi_sertype *, const void * sample)
{
  return static_cast<const SerializedMessage *>(sample)->size();
}

bool sertype_serialize_into(
  const ddsi_sertype *, const void * sample, void * dst, size_t dst_size)
{
  const auto * msg = static_cast<const SerializedMessage *>(sample);
  if (msg->size() > dst_size) {
    return false;
  }
  std::memcpy(dst, msg->data(), msg->size());
  return true;
}

const ddsi_sertype_ops kSertypeOps = {
  ddsi_sertype_v0,
  nullptr,
  sertype_free,
  sertype_zero_samples,
  sertype_realloc_samples,
  sertype_free_samples,
  sertype_equal,
  sertype_hash,
  nullptr,  // type_id: ROS 2 Humble announces no XTypes information
  nullptr,  // type_map
  nullptr,  // type_info
  nullptr,  // derive_sertype
  sertype_get_serialized_size,
  sertype_serialize_into,
};

}  // namespace

ddsi_sertype * create_cdr_sertype(const std::string & type_name)
{
  auto * type = new CdrSertype();
  ddsi_sertype_init_flags(
    type, type_name.c_str(), &kSertypeOps, &kSerdataOps, DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  type->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  return type;
}

ddsi_serdata * make_cdr_serdata(const ddsi_sertype * type, SerializedMessage && payload)
{
  CdrSerdata * d = new_serdata(type, SDK_DATA);
  // Writers pad to a multiple of 4 already; anything else gets zeroed padding room.
  const size_t size = payload.size();
  d->payload = std::move(payload);
  if (size % 4 != 0) {
    prepare(d, size);  // keeps content: resize within capacity, else grows by copy
  }
  return d;
}

dds_entity_t create_cdr_topic(
  dds_entity_t participant, const std::string & topic_name, const std::string & type_name,
  const ddsi_sertype ** sertype_ref)
{
  ddsi_sertype * type = create_cdr_sertype(type_name);
  // On success `type` points at the sertype Cyclone keeps (an equal one may already exist).
  const dds_entity_t topic =
    dds_create_topic_sertype(participant, topic_name.c_str(), &type, nullptr, nullptr, nullptr);
  if (topic < 0) {
    ddsi_sertype_unref(type);
    *sertype_ref = nullptr;
  } else {
    *sertype_ref = ddsi_sertype_ref(type);
  }
  return topic;
}

}  // namespace detail
}  // namespace rclcdds
