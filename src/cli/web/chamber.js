"use strict";
// Placeholder: the chamber's number from the path.
document.getElementById("title").textContent =
  "Chamber " + location.pathname.split("/").pop();
