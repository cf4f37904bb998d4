// A hostile DDS peer for the robustness tests: writes any bytes, as they are, under any topic and
// type name, with any writer USER_DATA, straight on Cyclone's C API (a write-only raw sertype and
// dds_writecdr). It shares no code with rclcdds, so nothing of the library under test can
// sanitise what it sends.
//   hostile_peer --topic T --type TYPE (--payload-file PATH | --payload-hex HEX)
//                [--user-data TEXT] [--count N] [--rate HZ] [--best-effort]
//                [--transient-local] [--depth N] [--match-timeout S] [--linger S]
// Loopback only, with the participant settings of rclcdds's default network mode. Prints
// "matched" once a reader is matched and "sent N" after the last write.
#include <dds/dds.h>
#include <dds/ddsi/ddsi_serdata.h>
#include <dds/ddsi/ddsi_sertype.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace
{

struct RawSerdata : ddsi_serdata
{
  std::vector<unsigned char> bytes;  ///< padded to a multiple of 4 with zeros
};

const RawSerdata * raw(const ddsi_serdata * d) {return static_cast<const RawSerdata *>(d);}

RawSerdata * new_serdata(const ddsi_sertype * type, ddsi_serdata_kind kind)
{
  auto * d = new RawSerdata();
  ddsi_serdata_init(d, type, kind);
  return d;
}

// Write-only: the operations a reader would need answer with empty samples.
bool eqkey(const ddsi_serdata *, const ddsi_serdata *) {return true;}
uint32_t get_size(const ddsi_serdata * d) {return static_cast<uint32_t>(raw(d)->bytes.size());}
ddsi_serdata * from_ser(const ddsi_sertype * t, ddsi_serdata_kind k, const nn_rdata *, size_t)
{
  return new_serdata(t, k);
}
ddsi_serdata * from_ser_iov(
  const ddsi_sertype * t, ddsi_serdata_kind k, ddsrt_msg_iovlen_t, const ddsrt_iovec_t *, size_t)
{
  return new_serdata(t, k);
}
ddsi_serdata * from_keyhash(const ddsi_sertype * t, const ddsi_keyhash *)
{
  return new_serdata(t, SDK_KEY);
}
ddsi_serdata * from_sample(const ddsi_sertype * t, ddsi_serdata_kind k, const void *)
{
  return new_serdata(t, k);
}
void to_ser(const ddsi_serdata * d, size_t off, size_t sz, void * buf)
{
  std::memcpy(buf, raw(d)->bytes.data() + off, sz);
}
ddsi_serdata * to_ser_ref(const ddsi_serdata * d, size_t off, size_t sz, ddsrt_iovec_t * ref)
{
  ref->iov_base = const_cast<unsigned char *>(raw(d)->bytes.data()) + off;
  ref->iov_len = static_cast<ddsrt_iov_len_t>(sz);
  return ddsi_serdata_ref(d);
}
void to_ser_unref(ddsi_serdata * d, const ddsrt_iovec_t *) {ddsi_serdata_unref(d);}
bool to_sample(const ddsi_serdata *, void *, void **, void *) {return true;}
ddsi_serdata * to_untyped(const ddsi_serdata * d)
{
  RawSerdata * u = new_serdata(d->type, SDK_KEY);
  u->type = nullptr;
  return u;
}
bool untyped_to_sample(const ddsi_sertype *, const ddsi_serdata *, void *, void **, void *)
{
  return true;
}
void serdata_free(ddsi_serdata * d) {delete static_cast<RawSerdata *>(d);}
size_t print(const ddsi_sertype *, const ddsi_serdata * d, char * buf, size_t size)
{
  return static_cast<size_t>(std::snprintf(buf, size, "<%zu bytes>", raw(d)->bytes.size()));
}
void get_keyhash(const ddsi_serdata *, ddsi_keyhash * buf, bool) {std::memset(buf, 0, sizeof(*buf));}

const ddsi_serdata_ops kSerdataOps = {
  eqkey, get_size, from_ser, from_ser_iov, from_keyhash, from_sample, to_ser, to_ser_ref,
  to_ser_unref, to_sample, to_untyped, untyped_to_sample, serdata_free, print, get_keyhash,
#ifdef DDS_HAS_SHM
  nullptr, nullptr,
#endif
};

void sertype_free(ddsi_sertype * t)
{
  ddsi_sertype_fini(t);
  delete t;
}
void zero_samples(const ddsi_sertype *, void *, size_t) {}
void realloc_samples(void ** ptrs, const ddsi_sertype *, void *, size_t, size_t count)
{
  for (size_t i = 0; i < count; ++i) {
    ptrs[i] = nullptr;
  }
}
void free_samples(const ddsi_sertype *, void **, size_t, dds_free_op_t) {}
bool sertype_equal(const ddsi_sertype *, const ddsi_sertype *) {return true;}
uint32_t sertype_hash(const ddsi_sertype *) {return 0;}
size_t serialized_size(const ddsi_sertype *, const void *) {return 0;}
bool serialize_into(const ddsi_sertype *, const void *, void *, size_t) {return false;}

const ddsi_sertype_ops kSertypeOps = {
  ddsi_sertype_v0, nullptr, sertype_free, zero_samples, realloc_samples, free_samples,
  sertype_equal, sertype_hash, nullptr, nullptr, nullptr, nullptr, serialized_size,
  serialize_into,
};

std::vector<unsigned char> from_hex(const std::string & hex)
{
  std::vector<unsigned char> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

int fail(const std::string & what)
{
  std::fprintf(stderr, "hostile_peer: %s\n", what.c_str());
  return 2;
}

}  // namespace

int main(int argc, char ** argv)
{
  std::map<std::string, std::string> options;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--best-effort" || word == "--transient-local") {
      options[word] = "1";
    } else if (i + 1 < argc) {
      options[word] = argv[++i];
    } else {
      return fail("option " + word + " needs a value");
    }
  }
  const auto option = [&options](const char * name, const char * fallback) {
      auto it = options.find(name);
      return it == options.end() ? std::string(fallback) : it->second;
    };
  std::vector<unsigned char> payload;
  if (options.count("--payload-file") != 0) {
    std::ifstream file(options["--payload-file"], std::ios::binary);
    payload.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  } else {
    payload = from_hex(option("--payload-hex", ""));
  }
  const std::string topic_name = option("--topic", "");
  const std::string type_name = option("--type", "");
  if (topic_name.empty() || type_name.empty() || payload.empty()) {
    return fail("needs --topic, --type and a non-empty payload");
  }
  const long count = std::atol(option("--count", "1").c_str());
  const double rate = std::atof(option("--rate", "10").c_str());

  const char * domain_text = std::getenv("ROS_DOMAIN_ID");
  const dds_domainid_t domain_id = domain_text != nullptr ? std::atoi(domain_text) : 0;
  const std::string config =
    "<CycloneDDS><Domain Id=\"any\"><General><Interfaces>"
    "<NetworkInterface address=\"127.0.0.1\"/></Interfaces>"
    "<AllowMulticast>false</AllowMulticast></General><Discovery>"
    "<ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>60</MaxAutoParticipantIndex>"
    "<Peers><Peer Address=\"127.0.0.1\"/></Peers></Discovery></Domain></CycloneDDS>";
  const dds_entity_t domain = dds_create_domain(domain_id, config.c_str());
  const dds_entity_t participant = dds_create_participant(domain_id, nullptr, nullptr);
  if (domain < 0 || participant < 0) {
    return fail("cannot create the participant");
  }
  auto * sertype = new ddsi_sertype();
  ddsi_sertype_init_flags(
    sertype, type_name.c_str(), &kSertypeOps, &kSerdataOps, DDSI_SERTYPE_FLAG_TOPICKIND_NO_KEY);
  sertype->allowed_data_representation = DDS_DATA_REPRESENTATION_FLAG_XCDR1;
  ddsi_sertype * topic_type = sertype;  // becomes the sertype Cyclone keeps for the topic
  const dds_entity_t topic = dds_create_topic_sertype(
    participant, topic_name.c_str(), &topic_type, nullptr, nullptr, nullptr);
  if (topic < 0) {
    return fail("cannot create topic " + topic_name);
  }
  dds_qos_t * qos = dds_create_qos();
  dds_qset_reliability(
    qos, options.count("--best-effort") != 0 ? DDS_RELIABILITY_BEST_EFFORT : DDS_RELIABILITY_RELIABLE,
    DDS_SECS(1));
  dds_qset_durability(
    qos, options.count("--transient-local") != 0 ? DDS_DURABILITY_TRANSIENT_LOCAL :
    DDS_DURABILITY_VOLATILE);
  dds_qset_history(qos, DDS_HISTORY_KEEP_LAST, std::atoi(option("--depth", "100").c_str()));
  const dds_data_representation_id_t xcdr1[] = {DDS_DATA_REPRESENTATION_XCDR1};
  dds_qset_data_representation(qos, 1, xcdr1);
  const std::string user_data = option("--user-data", "");
  if (!user_data.empty()) {
    dds_qset_userdata(qos, user_data.data(), user_data.size());
  }
  const dds_entity_t writer = dds_create_writer(participant, topic, qos, nullptr);
  dds_delete_qos(qos);
  if (writer < 0) {
    return fail("cannot create the writer");
  }

  const auto match_deadline = std::chrono::steady_clock::now() +
    std::chrono::milliseconds(static_cast<long>(std::atof(option("--match-timeout", "5").c_str()) * 1000));
  dds_publication_matched_status_t matched{};
  while (dds_get_publication_matched_status(writer, &matched) == DDS_RETCODE_OK &&
    matched.current_count == 0 && std::chrono::steady_clock::now() < match_deadline)
  {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (matched.current_count > 0) {
    std::printf("matched\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  payload.resize((payload.size() + 3) & ~static_cast<size_t>(3), 0);
  const auto period = std::chrono::duration<double>(rate > 0 ? 1.0 / rate : 0.0);
  auto next = std::chrono::steady_clock::now();
  long sent = 0;
  for (; count <= 0 || sent < count; ++sent) {
    RawSerdata * d = new_serdata(topic_type, SDK_DATA);
    d->bytes = payload;
    d->timestamp.v = dds_time();
    if (dds_writecdr(writer, d) < 0) {
      return fail("write failed");
    }
    if (rate > 0) {
      next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(period);
      std::this_thread::sleep_until(next);
    }
  }
  std::printf("sent %ld\n", sent);
  std::fflush(stdout);
  std::this_thread::sleep_for(
    std::chrono::milliseconds(static_cast<long>(std::atof(option("--linger", "0.5").c_str()) * 1000)));
  dds_delete(participant);
  dds_delete(domain);
  return 0;
}
