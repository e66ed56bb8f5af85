"""End-to-end test harness: scripted HTTP server, Wine runner, message-box watcher."""
