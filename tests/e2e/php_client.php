<?php
// PHP's SoapClient as a legacy client: reads the WSDL at the URL given,
// calls GetFlightsOpSoap for the airport given and prints the records it
// read as JSON: a list of objects, each holding exactly the properties the
// client set, with their values as it gave them (null stays null).
//
//   php php_client.php WSDL-URL AIRPORT
ini_set('default_socket_timeout', '60');
$client = new SoapClient($argv[1], [
    'cache_wsdl' => WSDL_CACHE_NONE,
    'exceptions' => true,
    'connection_timeout' => 60,
]);
$result = $client->GetFlightsOpSoap($argv[2]);
$records = [];
foreach ((array)$result as $record) {
    $records[] = (object)get_object_vars($record);
}
echo json_encode(['version' => PHP_VERSION, 'records' => $records],
                 JSON_UNESCAPED_UNICODE | JSON_UNESCAPED_SLASHES | JSON_THROW_ON_ERROR), "\n";
