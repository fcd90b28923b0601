// The lobby: today's cave and its results, the live games to watch, the finished games to
// replay or download, from the server's /games.json (docs/protocol.md, "The lobby").
"use strict";

(() => {
  const REFRESH_MS = 5000;

  // "1:05" for 65 seconds, "1:01:05" past an hour.
  function duration(ms) {
    const seconds = Math.floor(ms / 1000);
    const two = (n) => String(n).padStart(2, "0");
    const hours = Math.floor(seconds / 3600);
    const minutes = Math.floor(seconds / 60) % 60;
    return (hours > 0 ? hours + ":" + two(minutes) : String(minutes)) + ":" + two(seconds % 60);
  }

  function link(text, href, download) {
    const a = document.createElement("a");
    a.textContent = text;
    a.href = href;
    if (download) a.download = "";
    return a;
  }

  // Replaces the rows of table `id` with one row per item, each cell text or an element.
  function fill(id, items, cellsOf) {
    const body = document.querySelector("#" + id + " tbody");
    body.replaceChildren(
      ...items.map((item) => {
        const row = document.createElement("tr");
        for (const value of cellsOf(item)) {
          const cell = document.createElement("td");
          cell.append(value);
          row.append(cell);
        }
        return row;
      })
    );
  }

  function replayLink(game) {
    return link("replay", "/?replay=" + encodeURIComponent(game.name));
  }

  function show(games) {
    document.getElementById("today-date").textContent = games.today.date;
    fill("today", games.today.results, (game) => [
      String(game.turns),
      String(game.kills),
      duration(game.lengthMs),
      replayLink(game),
    ]);
    fill("live", games.live, (game) => [
      String(game.turns),
      String(game.kills),
      duration(game.sinceLastKeyMs) + " ago",
      String(game.watchers),
      link("watch", "/?watch=" + encodeURIComponent(game.id)),
    ]);
    fill("finished", games.finished, (game) => [
      game.ending,
      String(game.turns),
      String(game.kills),
      duration(game.lengthMs),
      new Date(game.when * 1000).toISOString().replace("T", " ").slice(0, 16),
      replayLink(game),
      link("download", "/recordings/" + encodeURIComponent(game.name), true),
    ]);
    document.getElementById("status").textContent = "";
    window.vesperdeepLobby = games; // what the page's tests read
  }

  async function refresh() {
    try {
      const answer = await fetch("/games.json", { cache: "no-store" });
      if (!answer.ok) throw new Error("status " + answer.status);
      show(await answer.json());
    } catch (error) {
      document.getElementById("status").textContent =
        "The lobby cannot be loaded (" + error.message + ").";
    }
  }

  refresh();
  setInterval(refresh, REFRESH_MS);
})();
