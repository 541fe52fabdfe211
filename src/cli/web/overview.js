"use strict";
// Placeholder: lists the chambers from /api/chambers.
fetch("/api/chambers").then((r) => r.json()).then((data) => {
  document.getElementById("chambers").textContent =
    data.chambers.map((c) => "Chamber " + c.address).join(", ");
});
