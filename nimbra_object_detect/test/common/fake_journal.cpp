// Stand-in for libsystemd's sd_journal_send in the logger probe: the executable's definition takes
// precedence over the shared library's, so every journal record is printed to standard output as
// "journal FIELD=value" lines instead of reaching journald.
#ifndef SD_JOURNAL_SUPPRESS_LOCATION
#define SD_JOURNAL_SUPPRESS_LOCATION
#endif
#include <systemd/sd-journal.h>

#include <cstdarg>
#include <cstdio>
#include <string>

namespace
{

/// Expands the conversions the spdlog journal sink uses: %.*s, %s and %d.
std::string ExpandField(const char * format, va_list & args)
{
  std::string field;
  for (const char * p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      field += *p;
      continue;
    }
    const std::string spec(p + 1, p + 1 + (p[1] == '.' ? 3 : 1));
    if (spec == ".*s") {
      const int length = va_arg(args, int);
      const char * text = va_arg(args, const char *);
      field.append(text, static_cast<std::size_t>(length));
      p += 3;
    } else if (spec == "s") {
      field += va_arg(args, const char *);
      p += 1;
    } else if (spec == "d") {
      field += std::to_string(va_arg(args, int));
      p += 1;
    } else {
      field += "<unsupported conversion>";
      break;
    }
  }
  return field;
}

}  // namespace

extern "C" int sd_journal_send(const char * format, ...)
{
  va_list args;
  va_start(args, format);
  for (const char * field_format = format; field_format != nullptr;
    field_format = va_arg(args, const char *))
  {
    std::printf("journal %s\n", ExpandField(field_format, args).c_str());
  }
  va_end(args);
  std::printf("journal end\n");
  std::fflush(stdout);
  return 0;
}
