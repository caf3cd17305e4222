<?php
// A server fault: an error page with an address in it, sent as HTTP 500.
http_response_code(500);
echo "<html><body>231 http://example.com/broken.exe Internal Server Error</body></html>";
