#include "post_plugin_handler.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern "C" {
#include <iniparser.h>
}

namespace {

const char kConfigFile[] = "./post_plugin.ini";

struct plugin_func_priv {
  char dll_name[4096];
  unsigned int extra_read_addr;
  unsigned int extra_read_size;
  void *dll_handle;
  void *plugin_handle;
  LPPLUGIN_GET_NAME plugin_get_name;
  LPPLUGIN_FINALIZE plugin_finalize;
  LPPLUGIN_INIT plugin_init;
  LPPLUGIN_GET_ERROR_STR plugin_get_error_str;
  LPPLUGIN_DOWNLOAD_FINISH_CB plugin_download_finish_cb;
};

// Reads section [Plugin]; a file iniparser cannot parse names no library.
void read_config(plugin_func_priv *p) {
  dictionary *d = iniparser_load(kConfigFile);
  if (!d) return;
  const char *name = iniparser_getstring(d, "plugin:dll_name", "");
  std::size_t n = strnlen(name, sizeof p->dll_name - 1);
  std::memcpy(p->dll_name, name, n);
  p->dll_name[n] = '\0';
  p->extra_read_addr = unsigned(iniparser_getint(d, "plugin:extra_read_addr", 0));
  p->extra_read_size = unsigned(iniparser_getint(d, "plugin:extra_read_size", 0));
  iniparser_freedict(d);
}

template <class Fn>
bool look_up(void *lib, const char *name, Fn &out) {
  out = reinterpret_cast<Fn>(dlsym(lib, name));
  return out != nullptr;
}

// In the order the station has always looked them up.
bool look_up_exports(plugin_func_priv *p) {
  return look_up(p->dll_handle, "plugin_get_name", p->plugin_get_name) &&
         look_up(p->dll_handle, "plugin_finalize", p->plugin_finalize) &&
         look_up(p->dll_handle, "plugin_init", p->plugin_init) &&
         look_up(p->dll_handle, "plugin_get_error_str", p->plugin_get_error_str) &&
         look_up(p->dll_handle, "plugin_download_finish_cb", p->plugin_download_finish_cb);
}

void *fail(plugin_func_priv *p, int *errorno, int code) {
  *errorno = code;
  if (p->dll_handle) dlclose(p->dll_handle);
  std::free(p);
  return nullptr;
}

plugin_func_priv *priv(void *handle) { return static_cast<plugin_func_priv *>(handle); }

}  // namespace

void *plugin_handler_init(int *errorno) {
  auto *p = static_cast<plugin_func_priv *>(std::calloc(1, sizeof(plugin_func_priv)));
  if (!p) return nullptr;  // nothing to report it with; the station runs without a plug-in
  *errorno = 0;
  if (access(kConfigFile, R_OK) != 0) return fail(p, errorno, 0);
  read_config(p);
  if (p->dll_name[0] == '\0') return fail(p, errorno, ERROR_POST_PLUGIN_NO_DLL_NAME);
  p->dll_handle = dlopen(p->dll_name, RTLD_NOW | RTLD_LOCAL);
  if (!p->dll_handle) return fail(p, errorno, ERROR_POST_PLUGIN_LOAD_DLL_FAILED);
  if (!look_up_exports(p)) return fail(p, errorno, ERROR_POST_PLUGIN_LOAD_DLL_FUNC_FAILED);
  p->plugin_handle = p->plugin_init(errorno);
  if (!p->plugin_handle) return fail(p, errorno, ERROR_POST_PLUGIN_INIT_DLL_FAILED);
  *errorno = 0;
  return p;
}

const char *plugin_handler_get_name(void *handle) { return priv(handle)->plugin_get_name(); }

int plugin_handler_get_extra_read_addr(void *handle) { return int(priv(handle)->extra_read_addr); }

int plugin_handler_get_extra_read_size(void *handle) { return int(priv(handle)->extra_read_size); }

int plugin_handler_download_finish_cb(void *handle, usb_dev_handle *udev, char *preadbuf, int read_size,
                                      int program_okay, char *one_file_image_version) {
  plugin_func_priv *p = priv(handle);
  return p->plugin_download_finish_cb(p->plugin_handle, udev, preadbuf, read_size, program_okay,
                                      one_file_image_version);
}

void plugin_handler_finailize(void *handle) {
  plugin_func_priv *p = priv(handle);
  if (!p) return;
  if (p->plugin_handle) p->plugin_finalize(p->plugin_handle);
  dlclose(p->dll_handle);
  std::free(p);
}
