<?php
// Stands in for the maker's feedback script: records what PHP's own form
// parser made of the upload (and, when the server was started with
// enable_post_data_reading=0, the raw body as it came over the wire), then
// answers with the text the test chose, "Script Completed" by default.
$dir = getenv('ZURO_RECORD_DIR');
$record = [
    'method' => $_SERVER['REQUEST_METHOD'],
    'contentType' => $_SERVER['CONTENT_TYPE'] ?? '',
    'userAgent' => $_SERVER['HTTP_USER_AGENT'] ?? '',
    'accept' => $_SERVER['HTTP_ACCEPT'] ?? '',
    'post' => $_POST,
    'postOrder' => array_keys($_POST),
    'files' => [],
];
foreach ($_FILES as $key => $file) {
    $ok = $file['error'] === UPLOAD_ERR_OK;
    $record['files'][] = [
        'key' => $key,
        'name' => $file['name'],
        'type' => $file['type'],
        'size' => $file['size'],
        'error' => $file['error'],
        'sha1' => $ok ? sha1_file($file['tmp_name']) : '',
        'content' => ($ok && $file['size'] <= 65536) ? base64_encode(file_get_contents($file['tmp_name'])) : '',
    ];
}
if (ini_get('enable_post_data_reading') === '0') {
    file_put_contents("$dir/raw.bin", file_get_contents('php://input'));
}
file_put_contents("$dir/record.json", json_encode($record, JSON_INVALID_UTF8_SUBSTITUTE));
$answer = @file_get_contents("$dir/answer.txt");
echo $answer === false ? "<html><body>Thank you. Script Completed</body></html>" : $answer;
