// Where the browser build finds its files: the site serves them beside the
// page, and before anything else reads them they are fetched, all at once,
// into the program's own file system under /data, where the rest of the
// program opens them as on the desktop. The browser decodes the
// photographs and the music as they arrive (page.js: predecode), and the
// form comes once everything is ready, so that the click on "Demo" starts
// the picture and the music at once. A file that cannot be fetched is
// left out and the page is told which and why; start-up then fails on it
// as a desktop install missing that file does.
#include <emscripten.h>

#include <string>

#include "data/files.h"
#include "platform/platform.h"

namespace platform {

namespace {

constexpr char kDataFolder[] = "/data";

EM_ASYNC_JS(void, WebFetchFiles, (const char* folder, const char* names), {
  const s = Module.sorvane, into = UTF8ToString(folder);
  const list = UTF8ToString(names).split('\n').filter((name) => name);
  FS.mkdirTree(into);
  let done = 0;
  s.status('Loading\u2026');
  await Promise.all(list.map(async (name) => {
    const url = new URL(name, document.baseURI).href;
    try {
      const response = await fetch(url);
      if (!response.ok) throw new Error('HTTP ' + response.status + (response.statusText ? ' ' + response.statusText : ""));
      const bytes = new Uint8Array(await response.arrayBuffer());
      FS.writeFile(into + '/' + name, bytes);
      await s.predecode(into + '/' + name, bytes);
    } catch (e) {
      s.problem("The demo's file " + name + ' could not be fetched from ' + url + ' (' + (e.message || e) + ').');
    }
    s.status('Loading\u2026 ' + (++done) + ' of ' + list.length);
  }));
});

}  // namespace

ProgramFolders GetProgramFolders() {
  std::string names;
  for (const std::string& name : datafiles::All()) names += name + "\n";
  WebFetchFiles(kDataFolder, names.c_str());
  ProgramFolders folders;
  folders.data.push_back(kDataFolder);
  return folders;
}

}  // namespace platform
