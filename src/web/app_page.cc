// The page "/app/": the latest calls and messages for a phone or a desktop
// browser. It reads "/api/calls", follows "/api/events" and changes calls
// only by their identity. A row once shown is never rebuilt while the page
// lives, so a playing message goes on playing when other calls come and go.
#include "web/calls_api.h"

namespace lw::web {

std::string_view AppPage() {
  return R"page(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Calls</title>
<style>
*{box-sizing:border-box}
body{margin:0;font:16px/1.4 system-ui,sans-serif;background:#f3f5f8;color:#1c2330}
header{position:sticky;top:0;background:#2456d6;color:#fff;padding:.75rem 1rem;
 display:flex;align-items:baseline;gap:.75rem;flex-wrap:wrap}
header h1{font-size:1.2rem;margin:0}
header a{color:#fff;margin-left:auto;font-size:.9rem}
main{max-width:46rem;margin:0 auto;padding:.5rem}
ol{list-style:none;margin:0;padding:0}
li{background:#fff;border-radius:.5rem;margin:.5rem 0;padding:.75rem;
 box-shadow:0 1px 2px #0002;border-left:.3rem solid transparent}
li.new{border-left-color:#e8590c}
.top{display:flex;flex-wrap:wrap;gap:.25rem .75rem;align-items:baseline}
.who{font-weight:600;overflow-wrap:anywhere;min-width:0}
.type{font-size:.8rem;text-transform:uppercase;color:#5a6475}
.new .type::after{content:" \2022 new";color:#e8590c;font-weight:700}
.meta{color:#5a6475;font-size:.9rem;overflow-wrap:anywhere}
audio{display:block;width:100%;margin:.5rem 0 .25rem}
.acts{display:flex;gap:1rem;align-items:center;justify-content:flex-end}
.acts a,.acts button{font:inherit;font-size:.9rem}
.acts button{background:none;border:1px solid #c92a2a;color:#c92a2a;
 border-radius:.3rem;padding:.3rem .8rem;cursor:pointer}
#empty{color:#5a6475;text-align:center;padding:2rem}
</style>
</head>
<body>
<header><h1>Calls</h1><span id="count"></span><a href="/">Classic pages</a></header>
<main><p id="empty" hidden>No calls.</p><ol id="calls"></ol></main>
<script>
"use strict";
const list = document.getElementById("calls");
const rows = new Map();  // id -> {li, call}
const isNew = c => c.type === "message" && !c.heard;

function text(tag, cls, value) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (value !== undefined) e.textContent = value;
  return e;
}

function when(c) {
  const d = new Date(c.time);
  const at = isNaN(d) ? c.time : d.toLocaleString();
  const m = Math.floor(c.length / 60), s = String(c.length % 60).padStart(2, "0");
  return at + (c.length ? " \u00b7 " + m + ":" + s : "");
}

function makeRow(c) {
  const li = text("li");
  li.dataset.id = c.id;
  const top = text("div", "top");
  top.append(text("span", "type", c.type),
             text("span", "who", c.name || c.number || "Unknown caller"));
  li.append(top);
  const meta = [c.name ? c.number : "", c.contact ? "Contact: " + c.contact : "", when(c)];
  li.append(text("div", "meta", meta.filter(Boolean).join(" \u00b7 ")));
  const acts = text("div", "acts");
  if (c.recording) {
    const audio = text("audio");
    audio.controls = true;
    audio.preload = "none";
    audio.src = c.recording;
    audio.addEventListener("play", () => markHeard(c.id));
    li.append(audio);
    const get = text("a", "", "Download");
    get.href = c.recording;
    get.download = (c.name || c.number || "message") + " " + c.time + ".wav";
    acts.append(get);
  }
  const del = text("button", "del", "Delete");
  del.addEventListener("click", () => remove(c.id));
  acts.append(del);
  li.append(acts);
  return li;
}

function show(calls) {
  const ids = new Set(calls.map(c => c.id));
  for (const [id, row] of rows)
    if (!ids.has(id)) { row.li.remove(); rows.delete(id); }
  let at = list.firstChild;
  for (const c of calls) {
    let row = rows.get(c.id);
    if (!row) {
      row = {li: makeRow(c)};
      rows.set(c.id, row);
      list.insertBefore(row.li, at);
    } else if (row.li === at) {
      at = at.nextSibling;
    } else {
      list.insertBefore(row.li, at);
    }
    row.call = c;
    row.li.classList.toggle("new", isNew(c));
  }
  const fresh = calls.filter(isNew).length;
  document.title = (fresh ? "(" + fresh + ") " : "") + "Calls";
  document.getElementById("count").textContent =
      calls.length + (calls.length === 1 ? " call" : " calls") +
      (fresh ? ", " + fresh + " new" : "");
  document.getElementById("empty").hidden = calls.length > 0;
}

let loading = null, again = false;
async function load() {
  if (loading) { again = true; return loading; }
  loading = (async () => {
    do {
      again = false;
      const r = await fetch("/api/calls", {cache: "no-store"});
      if (r.ok) show(await r.json());
    } while (again);
  })().finally(() => { loading = null; });
  return loading;
}

async function markHeard(id) {
  const row = rows.get(id);
  if (!row || row.call.heard) return;
  row.call.heard = true;
  row.li.classList.remove("new");
  await fetch("/api/calls/" + id + "/heard", {method: "POST"});
  load();
}

async function remove(id) {
  const c = rows.get(id)?.call;
  if (!c) return;
  const who = c.name || c.number || "an unknown caller";
  if (!confirm("Delete the " + c.type + " from " + who + "?")) return;
  const r = await fetch("/api/calls/" + id, {method: "DELETE"});
  if (r.ok || r.status === 404) load();
}

const events = new EventSource("/api/events");
for (const kind of ["stored", "heard", "deleted"]) events.addEventListener(kind, load);
events.addEventListener("open", load);
load();
</script>
</body>
</html>
)page";
}

}  // namespace lw::web
